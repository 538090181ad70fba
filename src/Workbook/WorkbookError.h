// The error of the workbook layer: a workbook that cannot be created, written
// or read. It reaches the application's general error handler like the
// automation error it stands for.
#pragma once

#include "Errors.h"

namespace bms {

class EWorkbookError : public Error {
public:
    using Error::Error;
};

} // namespace bms
