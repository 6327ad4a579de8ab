#include "Classes.h"

#include "Errors.h"

namespace ombrix {

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr) throw EConvertError("nil", ClassName());
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const {
  throw EConvertError(ClassName(), dest != nullptr ? dest->ClassName() : "nil");
}

}  // namespace ombrix
