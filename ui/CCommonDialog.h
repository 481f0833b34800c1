#pragma once
// Asks the user for a file or a folder. Set the properties, call one
// method, get a path back; empty text when the user cancels.
//   CCommonDialog dialog;
//   dialog.hwnd = this;
//   dialog.Filter = QStringLiteral("Group Header (*.nc1)") + QChar(0) + "*.nc1";
//   QString path = dialog.ShowOpen();   // path + one NUL, or empty
#include <QString>
#include <QStringList>

class QWidget;

class CCommonDialog
{
  public:
    QWidget *hwnd = nullptr; // owner window; none for nullptr
    QString DialogTitle;
    // Description and pattern pairs, every item followed by the next after
    // one NUL character; several patterns in one item are separated by ";".
    QString Filter;
    QString InitialDir;
    QString filename; // put in the file-name box at the start
    // Lets the open dialog take several existing files at once; it then
    // takes only files that exist.
    bool AllowMultiSelect = false;
    // Every file the last dialog chose, in the order it gave them.
    QStringList FileNames;

    // The chosen file followed by one NUL character (callers strip it), or
    // empty text on cancel. The open dialog also takes a name of a file
    // that does not exist; the save dialog does not ask before overwriting.
    QString ShowOpen();
    QString ShowSave();
    // The chosen folder, without a NUL, or empty text on cancel.
    QString BrowseFolder();

    // `Filter` as the dialog's name filters, one a pair.
    static QStringList NameFilters(const QString &filter);

  private:
    QString ShowFileDialog(bool save);

    // The pair chosen last, offered first by this object's next dialog.
    int m_intFilterIndex = 0;
};
