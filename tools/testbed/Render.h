#pragma once
// `gelsim render FILE... -o OUT.png [--steps N] [--size WxH] [--overlay NAME...]`: builds
// the world from body/zone files or one sample scene (scene:NAME), steps it and draws it
// with the testbed's drawing through the headless backend into a PNG, framed on what it
// draws: the testbed's fit of the box when everything lies inside the box, otherwise the
// area that holds every mass and zone outline.
#include <string>
#include <vector>

namespace kin::testbed {

/// Runs the command on the arguments after "render". Exit status: 0 written (or --help),
/// 1 the input could not be used or the picture not written (one line on standard error),
/// 2 usage.
int RenderCommand(const std::vector<std::string>& args);

}  // namespace kin::testbed
