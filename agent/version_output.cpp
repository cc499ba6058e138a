#include "version_output.h"

#include "console_output.h"
#include "keldra_version.h"
#include "text_conversion.h"

namespace {

// Set in the build (CMake's project version and cache variables), where the
// version resource takes them from too.
const char productLine[] = "Keldra Agent";
const char productVersion[] = KELDRA_VERSION_TEXT;
const char revision[] = KELDRA_REVISION;
const char buildDateTime[] = KELDRA_BUILD_DATE;
const long supportedSchema = KELDRA_SCHEMA;

}  // namespace

std::string versionBanner() {
    return std::string(productLine) + "\n" +
           "Version: " + productVersion + "\n" +
           "(Revision: " + revision + ", Built on: " + buildDateTime + ")\n" +
           "Schema Supported: " + std::to_string(supportedSchema) + "\n" +
           "\n";
}

std::wstring usageText(const std::wstring& modulePath) {
    return L"Usage:\n" +
           modulePath + L" REMOVE <serviceName>\n" +
           modulePath + L" INSTALL <serviceName> [options]\n" +
           L"options:\n"
           L"-h/--help (Print usage)\n"
           L"-v/--version (show the version & the supported schema and, then exit)\n"
           L"-c <configuration file>\n"
           L"-o <option name>=<option value>\n"
           L"-u <user or DOMAIN\\user>\n"
           L"-d <displayname>\n"
           L"-t <poll time interval in seconds (default 10)>\n"
           L"-r <retry period after connection abort in seconds (>=10, default 30)>\n"
           L"-l <logging verbosity (ERROR, WARNING, DEBUG1, DEBUG2, default ERROR)>\n";
}

void printVersion() {
    writeConsoleText(utf8ToWide(versionBanner()));
}

void printUsage(const std::string& modulePath) {
    printVersion();
    writeConsoleText(usageText(utf8ToWide(modulePath)));
}
