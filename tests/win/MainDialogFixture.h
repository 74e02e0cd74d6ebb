// MainDialogFixture.h: the real main dialog, made as WinMain makes it, with a settings file of
// the test's own so that tests running side by side never share one.
#pragma once
#include <string>

#include <gtest/gtest.h>

#include <windows.h>

class MainDialogTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the main dialog (hidden) into MainWindow; its WM_INITDIALOG reads the settings.
    void Open();
    // Sends WM_CLOSE, as the close box does: the settings are written and the window destroyed.
    void Close();

    void WriteSetting(const char* key, const char* value);
    std::string ReadSetting(const char* key);  // "<missing>" when absent
    bool SettingsFileExists();

    std::string FieldText();
    void SetFieldText(const char* text);
    bool IsChecked(int id);
    POINT Position();

    // A file in the temporary folder that lives until the test ends.
    std::string MakeFile(const char* name, const std::string& content);

private:
    std::string folder;
};
