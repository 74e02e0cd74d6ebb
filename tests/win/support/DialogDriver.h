// DialogDriver.h: answers the modal windows that the code under test opens on this thread, and
// records each one as the user would see it. Message boxes and the common file dialogs run their
// own message loops inside the call under test; a CBT hook sees them once they are built.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

// Converts UTF-8 (the test sources) into the ANSI code page that the A functions use.
std::string Ansi(const char* utf8);

struct SeenWindow {
    bool isFileDialog = false;
    HWND owner = nullptr;
    std::string title;
    std::string text;          // message box: its message; file dialog: the proposed name
    HICON icon = nullptr;      // message box: the icon shown, compare with LoadIconA(nullptr, ...)
    std::vector<int> buttons;  // message box: ids of its push buttons
    int filterIndex = 0;       // file dialog: the file type selected when it opened (1-based)
    std::vector<std::string> filters;  // file dialog: the file types offered, in order
};

struct FileDialogAnswer {
    std::string path;     // typed into the name box and confirmed; empty: cancel
    int filterIndex = 0;  // file type picked first (1-based); 0 leaves it
};

class DialogDriver {
public:
    DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;
    virtual ~DialogDriver();

    // Answers in order of appearance; a file dialog without a queued answer is cancelled, a
    // message box without one gets its OK (else No, else Cancel) button.
    std::deque<FileDialogAnswer> fileAnswers;
    std::deque<int> boxButtons;
    // Runs once a file dialog has closed, before the call that showed it returns.
    std::function<void()> afterFileDialog;

    std::vector<SeenWindow> seen;
    std::vector<SeenWindow> MessageBoxes() const;
    std::vector<SeenWindow> FileDialogs() const;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK FileDialogTimer(HWND, UINT, UINT_PTR id, DWORD);
    void Answer(HWND window);
    void AnswerFileDialog(HWND window);

    HHOOK hook = nullptr;
    std::vector<HWND> answered;
    HWND pendingFileDialog = nullptr;
};
