#include "app/command_line.h"
#include "app/gui_start.h"

// The companion with its window. `orvane` has checked the command line and chosen this mode
// before handing its process over.
int main(int argc, char **argv)
{
    const orvane::CommandLine commandLine(argc, argv);
    return orvane::GuiStart::run(argc, argv, commandLine.has("--hidden"));
}
