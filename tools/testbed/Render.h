#pragma once
// `gelsim render FILE... -o OUT.png [--steps N] [--size WxH] [--overlay NAME...]`: builds
// the world from body/zone files or one sample scene (scene:NAME), steps it and draws it
// with the testbed's drawing through the headless backend into a PNG.
#include <string>
#include <vector>

namespace kin::testbed {

/// Runs the command on the arguments after "render". Exit status: 0 written, 1 the input
/// could not be used or the picture not written (one line on standard error), 2 usage.
int RenderCommand(const std::vector<std::string>& args);

}  // namespace kin::testbed
