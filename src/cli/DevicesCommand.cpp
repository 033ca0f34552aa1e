#include <cstdio>
#include <string>
#include <vector>

#include "audio/DeviceList.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"

// Lists the capture devices as "capture<TAB>POSITION<TAB>NAME<TAB>ID" and the output
// devices as "render<TAB>POSITION<TAB>NAME", in enumeration order. A position is what
// the settings store as deviceIndex and previewOutputDevice.
int RunDevicesCommand(const std::vector<std::string>& args)
{
    if (!args.empty()) {
        PrintError("unexpected argument: " + args.front());
        return kExitUsage;
    }
    const std::vector<AudioDeviceInfo> capture = ListCaptureDevices();
    for (size_t i = 0; i < capture.size(); ++i)
        std::printf("capture\t%zu\t%s\t%s\n", i, capture[i].name.c_str(), capture[i].id.c_str());
    const std::vector<std::string> render = ListRenderDevices();
    for (size_t i = 0; i < render.size(); ++i)
        std::printf("render\t%zu\t%s\n", i, render[i].c_str());
    if (capture.empty() && render.empty())
        PrintError("no audio devices found");
    return kExitOk;
}
