#include "upliner/qt/Application.h"

namespace zo {

TApplication::TApplication(char* ProgramName)
    : FArgv{ProgramName, nullptr}, FApplication(FArgc, FArgv) {}

}  // namespace zo
