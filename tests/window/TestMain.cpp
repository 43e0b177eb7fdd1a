// Runs the window tests on Qt's offscreen platform, with the scripted dialog
// seam installed so that no test ever waits in a real modal loop.

#include <gtest/gtest.h>

#include "Application.h"
#include "Dialogs.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);

    // Test discovery runs this program without the test environment.
    if (const char* platform = std::getenv("QT_QPA_PLATFORM"); !platform || !*platform)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string runtimeDir;
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        std::string pattern = (std::filesystem::temp_directory_path() / "gloxen-window-XXXXXX").string();
        if (mkdtemp(pattern.data())) {
            runtimeDir = pattern;
            setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        }
    }

    int result = 0;
    {
        TApplication application(argc, argv);
        InstallDialogs(std::make_unique<TScriptedDialogs>());
        result = RUN_ALL_TESTS();
        InstallDialogs(nullptr);
    }
    if (!runtimeDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(runtimeDir, ignored);
    }
    return result;
}
