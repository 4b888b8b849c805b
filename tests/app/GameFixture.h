#pragma once
// The whole game started on the headless backend, from the repository root so that it
// finds media/slime.plb and media/ground.plz as ./run does.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Game.h"
#include "app/Scene.h"
#include "gelsim/core/Physics.h"
#include "media/BuiltinMedia.h"
#include "platform/Graphics.h"
#include "platform/Hook.h"
#include "platform/Png.h"
#include "platform/Stream.h"
#include "platform/Window.h"

namespace slime::test {

class GameFixture : public ::testing::Test {
protected:
    /// Folder the game starts in; the repository root unless a test says otherwise.
    virtual std::filesystem::path StartFolder() { return SOURCE_ROOT; }

    void SetUp() override {
        oldCwd_ = std::filesystem::current_path();
        std::filesystem::current_path(StartFolder());
        slime::RegisterBuiltinMedia();
        std::string error;
        ASSERT_TRUE(kin::InitServices(kin::Backend::Headless, &error)) << error;
        slime::ResetGame();
        slime::StartUp();
        kin::FlushEvents();
    }
    void TearDown() override {
        kin::RemoveHook(kin::EmitEventHook(), slime::OnEvent, nullptr);
        kin::gelsim::TPhysics::Free();
        slime::ResetGame();
        kin::ShutdownServices();
        std::filesystem::current_path(oldCwd_);
    }
    kin::TGraphics* Canvas() { return kin::CanvasGraphics(Game().canvas); }
    /// One frame drawn and presented without stepping the world.
    void Frame() { slime::DrawFrame(); }

    /// Writes the canvas as a PNG when SLIME_SCREENSHOT_DIR is set (for looking at frames).
    void Screenshot(const std::string& name) {
        const char* dir = std::getenv("SLIME_SCREENSHOT_DIR");
        if (!dir) return;
        kin::TGraphics* c = Canvas();
        std::vector<uint8_t> px = c->ReadPixels();
        kin::TPixmap pm(c->Width(), c->Height(), std::move(px));
        kin::Ref<kin::TFileStream> f =
            kin::TFileStream::Open(std::string(dir) + "/" + name + ".png", kin::TFileStream::WRITE);
        if (f) kin::SavePixmapPNG(pm, *f, 5);
    }

private:
    std::filesystem::path oldCwd_;
};

}  // namespace slime::test
