#pragma once
// Helpers for tests that open windows and touch the per-user settings store.
#include <QApplication>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

namespace TestSupport
{

// Points the per-user settings store at a new empty folder, both through
// XDG_CONFIG_HOME and through QSettings' own path (which Qt reads from the
// environment only once a process). Call it before the first QSettings and
// again in every test's init().
QString UseFreshSettingsFolder();

// For a test program's static initMain(), before QApplication exists: the
// offscreen platform unless one is chosen, and a fresh settings folder.
void PrepareWindowTests();

// Hands the next modal window that `match` accepts to `action`, once, from
// a timer of the event loop. A modal window still open after `timeoutMs`
// is rejected, whatever it is, so a test can never hang on one. The flag
// tells whether `action` ran.
std::shared_ptr<bool> OnModal(std::function<bool(QWidget *)> match,
                              std::function<void(QWidget *)> action, int timeoutMs = 10000);

template <class Window>
std::shared_ptr<bool> OnModal(std::function<void(Window *)> action, int timeoutMs = 10000)
{
    return OnModal([](QWidget *w) { return qobject_cast<Window *>(w) != nullptr; },
                   [action](QWidget *w) { action(qobject_cast<Window *>(w)); }, timeoutMs);
}

} // namespace TestSupport
