#include "app/Scene.h"

#include "platform/Graphics.h"

namespace slime {

void SetUpScene() {}

void HandleClick(float /*x*/, float /*y*/) {}

void DrawScene(float /*w*/, float /*h*/) {
    kin::SetClsColor(127, 127, 255);
    kin::Cls();
}

void MoveCeiling() {}

}  // namespace slime
