#pragma once
// The tower scene: what a frame shows, what a click does, where the ceiling sits.

namespace slime {

/// Builds the scene; called once right after the world is created.
void SetUpScene();
/// A mouse press at canvas pixel (x, y).
void HandleClick(float x, float y);
/// Draws everything of one frame on a w x h drawing context.
void DrawScene(float w, float h);
/// After each presented frame: moves the world's ceiling.
void MoveCeiling();

}  // namespace slime
