// AdminPasswordUnit: trimming, the exact comparison, store-then-save.
#include "app/AdminPasswordUnit.h"

#include "services/SysOptionUnit.h"

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
