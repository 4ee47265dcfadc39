#include "program_path.h"

#include <cstring>

bool AppendProgramTail(char* buffer, std::size_t capacity) {
  const void* end = std::memchr(buffer, '\0', capacity);
  if (!end) return false;
  const std::size_t folder = static_cast<const char*>(end) - buffer;
  const std::size_t tail = sizeof kProgramTail - 1;
  if (tail >= capacity - folder) return false;  // tail plus its zero must fit behind the folder
  std::memcpy(buffer + folder, kProgramTail, tail + 1);
  return true;
}
