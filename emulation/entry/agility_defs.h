// The process-wide values IAgilityPrivate keeps for its host: stored by the
// setters, returned by the getters, read by nothing else in the library (the
// navigation has fixed constants of its own). Plain words without
// synchronisation: a setter's value is seen by every later getter call.
// No windows.h.
#pragma once

template <typename T>
class CAgilityDefs {
 public:
  // The single-precision values 1e-6 and 1e-9 widened, as the host knows them.
  static inline T m_Epsilon = static_cast<T>(1e-6f);
  static inline T m_LargeLimit = static_cast<T>(1e6);
  static inline T m_SmallLimit = static_cast<T>(1e-9f);
  static inline unsigned short m_DefaultA = 68;
  static inline unsigned short m_DefaultB = 2048;
};
