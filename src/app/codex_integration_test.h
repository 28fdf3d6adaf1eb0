#pragma once

namespace orvane::CompanionIntegrationTest {

// Connects once to the real App Server through a client of its own, lists one thread, makes
// the two optional account reads side by side and prints one summary line. Runs its own
// event loop without a display; returns the process's exit status.
int runAndExit(int &argc, char **argv);

}
