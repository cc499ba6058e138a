#include <string>

#include "dll_search.h"
#include "file_removal.h"
#include "launcher_messages.h"
#include "log_file.h"
#include "package_runner.h"
#include "temporary_directory.h"

// mirelt <packageFile> <packageType> <installOptions> <optionFile>
//
// The arguments come from the process's wide command line: the narrow
// vector is in the ANSI code page and loses every character that it lacks,
// so the launcher could install or delete a different file than it was given.
int wmain(int argc, wchar_t** argv) {
    searchDllsInSystemDirectoryOnly();
    std::wstring packageFile;
    std::wstring packageType;
    std::wstring installOptions;
    std::wstring optionFile;
    if (argc <= 4) return 0;

    logFilePath = logFilePathIn(temporaryDirectory());
    packageFile = argv[1];
    packageType = argv[2];
    installOptions = argv[3];
    optionFile = argv[4];

    // The outcome is in the log already; the files go whatever it was.
    runPackage(packageFile, packageType, installOptions);
    if (!removeTree(packageFile)) writeLog(packageRemovalFailedMessage(packageFile));
    if (!removeTree(optionFile)) writeLog(optionRemovalFailedMessage(optionFile));
    return 0;
}
