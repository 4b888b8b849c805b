#pragma once
// The data files compiled into the program: images, sounds and the font of the game.
// Their bytes are generated from the files in media/ at build time.

namespace slime {

/// Registers the nine built-in files with kin::RegisterIncbin under their "media/..."
/// names (opened as "incbin::media/..."). Call once at start-up, before loading media.
void RegisterBuiltinMedia();

}  // namespace slime
