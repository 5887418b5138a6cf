// AdminPasswordUnit: trimming, the exact comparison, store-then-save.
#include "app/AdminPasswordUnit.h"

#include "app/SysOptionUnit.h"

AnsiString TrimBlanks(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t first = 0;
  size_t last = text.size();
  while (first < last && blank(text[first])) ++first;
  while (last > first && blank(text[last - 1])) --last;
  return AnsiString(text.substr(first, last - first));
}

bool IsAdminPassword(const AnsiString& typed) {
  return TrimBlanks(typed) == SystemOptions->Password;
}

bool ChangeAdminPassword(const AnsiString& password, const AnsiString& confirmation) {
  AnsiString first = TrimBlanks(password);
  if (first != TrimBlanks(confirmation)) return false;
  SystemOptions->Password = first;
  SystemOptions->Save();
  return true;
}
