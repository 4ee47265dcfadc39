// The calling thread acts as a program of an ordinary user: the same account,
// with the administrators group good only for denying access, as Windows
// gives a program that the user did not run elevated. The service's own
// account (LocalSystem on Windows; under Wine every program runs as the one
// user, an administrator) keeps what the section's access list gives it; an
// ordinary user's program is held to the read-only entries.
#pragma once
#include <windows.h>

class OrdinaryUser {
 public:
  OrdinaryUser() {
    HANDLE own = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own) &&
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                 0, 0, 0, 0, 0, &administrators)) {
      SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
      HANDLE restricted = nullptr;
      if (CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted)) {
        acting_ = ImpersonateLoggedOnUser(restricted) != FALSE;
        CloseHandle(restricted);
      }
    }
    if (administrators) FreeSid(administrators);
    if (own) CloseHandle(own);
  }
  ~OrdinaryUser() {
    if (acting_) RevertToSelf();
  }
  OrdinaryUser(const OrdinaryUser&) = delete;
  OrdinaryUser& operator=(const OrdinaryUser&) = delete;

  // False when the system would not make or take the token.
  bool acting() const { return acting_; }

 private:
  bool acting_ = false;
};
