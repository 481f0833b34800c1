#include "app/frmReader.h"

#include "app/modPictures.h"
#include "cache/modFile.h"
#include "cache/modNBZ.h"
#include "nntp/CNNTP.h"
#include "ui/CCommonDialog.h"
#include "ui/frmAbout.h"
#include "ui/frmOptions.h"
#include "ui/modSettings.h"
#include "ui/modStartFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <optional>
#include <utility>

namespace
{

const QString Go = QStringLiteral("Go");
const QString Cancel = QStringLiteral("Cancel");
const QString Finished = QStringLiteral("Finished!");

// The window was laid out in twips; 15 twips make one pixel at 96 dpi.
constexpr int Twips(int twips)
{
    return twips / 15;
}

// The log's height alone, and with the progress bar of a run over several
// files beneath it.
constexpr int LogHeight = 184;
constexpr int LogHeightWithProgress = 162;

// A path that names an existing group cache file.
bool IsGroupCacheFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !modNBZ::GroupNameFromPath(info.fileName()).isEmpty();
}

} // namespace

frmReader::frmReader(QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmReader"));
    setWindowTitle(QStringLiteral("Pointwind v0.3"));
    setWindowIcon(modPictures::ProgramIcon());
    for (const char *key : {"warning", "abort", "info"})
        ImageList1.insert(QLatin1String(key), modPictures::LogIcon(QLatin1String(key)));
    BuildControls();

    // Load.
    m_objRun = new ResetRun(this);
    connect(m_objRun, &ResetRun::LogRow, this, &frmReader::m_objRun_LogRow);
    connect(m_objRun, &ResetRun::ShowHeader, this, &frmReader::m_objRun_ShowHeader);
    connect(m_objRun, &ResetRun::ServerMissing, this, &frmReader::m_objRun_ServerMissing);
    connect(m_objRun, &ResetRun::Connecting, this, &frmReader::m_objRun_Connecting);
    connect(m_objRun, &ResetRun::RunEnded, this, &frmReader::m_objRun_RunEnded);
    connect(m_objRun, &ResetRun::FileStarted, this, &frmReader::m_objRun_FileStarted);
    connect(Check1, &QCheckBox::toggled, m_objRun, &ResetRun::SetMakeBackup);
    m_objRun->SetMakeBackup(Check1->isChecked());
    VScroll1->setValue(2);
    setAcceptDrops(true);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

frmReader::~frmReader()
{
    Form_Unload();
    if (m_objRun) {
        // Nothing the run raises while it goes may reach a half-gone window.
        m_objRun->disconnect(this);
        delete m_objRun;
        m_objRun = nullptr;
    }
}

void frmReader::BuildControls()
{
    // The layout is fixed, so the texts need a face of a known size to fit
    // their places whatever the desktop's font settings.
    QFont face = font();
    face.setPixelSize(12);
    setFont(face);

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(Twips(7890), Twips(6525));
    setCentralWidget(client);

    auto label = [](QWidget *parent, const QString &name, const QString &text, QRect place) {
        auto *l = new QLabel(text, parent);
        l->setObjectName(name);
        l->setGeometry(place);
        return l;
    };
    // Value labels show what a server sent: never let it pass for markup.
    auto value = [&](int index, QWidget *parent, QRect place) {
        lbInfo[index] = label(parent, QStringLiteral("lbInfo_%1").arg(index), QString(), place);
        lbInfo[index]->setTextFormat(Qt::PlainText);
    };

    Frame1 = new QGroupBox(QStringLiteral("Parameters"), client);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(8, 4, 510, 106);

    Command5 = new QPushButton(Frame1);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->setGeometry(10, 22, 28, 24);
    Command5->setIcon(modPictures::FolderPicture());
    Command5->setIconSize(QSize(16, 16));
    Command5->setToolTip(QStringLiteral("Open a group file cache"));

    Text1 = new QLineEdit(Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(42, 23, 458, 22);
    Text1->setText(QStringLiteral("Choose group file cache you want to purge (look at "
                                  ".\\NewsLeecher\\data\\cacheV3\\groups\\)"));
    Text1->setCursorPosition(0);

    Check1 = new QCheckBox(QStringLiteral("Make a backup"), Frame1);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setGeometry(12, 52, 150, 22);
    Check1->setChecked(true);

    Label1[0] = label(Frame1, QStringLiteral("Label1_0"), QStringLiteral("Newsgroup:"),
                      QRect(176, 54, 76, 18));
    value(0, Frame1, QRect(254, 54, 246, 18));

    Label1[1] = label(Frame1, QStringLiteral("Label1_1"), QStringLiteral("Find articles posted "),
                      QRect(12, 80, 134, 18));
    Text2 = new QLineEdit(Frame1);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setGeometry(148, 78, 36, Twips(300));
    Text2->setMaxLength(3);
    Text2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Text2->installEventFilter(this);

    VScroll1 = new QScrollBar(Qt::Vertical, Frame1);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setGeometry(185, 78, 17, Twips(300));
    VScroll1->setRange(0, 130);
    VScroll1->setSingleStep(1);
    VScroll1->setPageStep(5);
    VScroll1->setFocusPolicy(Qt::NoFocus);
    connect(VScroll1, &QScrollBar::valueChanged, this, &frmReader::VScroll1_Change);

    Label1[2] = label(Frame1, QStringLiteral("Label1_2"), QStringLiteral("day(s) ago max"),
                      QRect(208, 80, 120, 18));

    fraMain = new QGroupBox(QStringLiteral("Last Read Article/Log"), client);
    fraMain->setObjectName(QStringLiteral("fraMain"));
    fraMain->setGeometry(8, 114, 510, 280);

    // The header of the article examined last: caption, then value.
    const struct {
        const char *caption;
        QRect captionPlace;
        QRect valuePlace;
    } header[4] = {
        {"ID:", QRect(12, 22, 26, 18), QRect(64, 22, 200, 18)},
        {"Subject:", QRect(12, 42, 50, 18), QRect(64, 42, 436, 18)},
        {"Date:", QRect(12, 62, 40, 18), QRect(64, 62, 150, 18)},
        {"Age (day(s)):", QRect(240, 62, 84, 18), QRect(328, 62, 100, 18)},
    };
    for (int i = 0; i < 4; ++i) {
        Label2[i] = label(fraMain, QStringLiteral("Label2_%1").arg(i),
                          QLatin1String(header[i].caption), header[i].captionPlace);
        value(i + 1, fraMain, header[i].valuePlace);
    }

    lstLog = new QTreeWidget(fraMain);
    lstLog->setObjectName(QStringLiteral("lstLog"));
    lstLog->setGeometry(10, 86, 490, LogHeight);
    lstLog->setHeaderLabels({QStringLiteral("Message")});
    lstLog->setRootIsDecorated(false);
    lstLog->setUniformRowHeights(true);
    lstLog->setIconSize(QSize(16, 16));
    lstLog->setSelectionMode(QAbstractItemView::SingleSelection);
    lstLog->setFocusPolicy(Qt::ClickFocus);
    lstLog->header()->setStretchLastSection(false);
    lstLog->setColumnWidth(0, 466);

    // Shown only while several files are chosen: the group reached of all.
    ProgressBar1 = new QProgressBar(fraMain);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(10, 86 + LogHeightWithProgress + 4, 490, 18);
    ProgressBar1->setFormat(QStringLiteral("%v of %m"));
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    ProgressBar1->setRange(0, 1);
    ProgressBar1->setValue(0);
    ProgressBar1->hide();

    Command1 = new QPushButton(Go, client);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(352, 402, 80, 26);
    connect(Command1, &QPushButton::clicked, this, &frmReader::Command1_Click);

    Command2 = new QPushButton(QStringLiteral("Quit"), client);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setGeometry(438, 402, 80, 26);
    connect(Command2, &QPushButton::clicked, this, &frmReader::Command2_Click);

    connect(Command5, &QPushButton::clicked, this, &frmReader::Command5_Click);

    for (QWidget *w : {static_cast<QWidget *>(Text1), static_cast<QWidget *>(Command5),
                       static_cast<QWidget *>(Check1), static_cast<QWidget *>(Text2),
                       static_cast<QWidget *>(Command1), static_cast<QWidget *>(Command2)})
        w->setFocusPolicy(Qt::StrongFocus);
    // Enter presses the button that has the focus, as Space does; outside a
    // dialog a button takes only Space unless told otherwise.
    for (QPushButton *button : {Command5, Command1, Command2})
        button->setAutoDefault(true);
    setTabOrder(Text1, Command5);
    setTabOrder(Command5, Check1);
    setTabOrder(Check1, Text2);
    setTabOrder(Text2, Command1);
    setTabOrder(Command1, Command2);

    QMenu *mnuDummy = menuBar()->addMenu(QStringLiteral("&File"));
    mnuDummy->setObjectName(QStringLiteral("mnuDummy"));
    mnuOptions = mnuDummy->addAction(QStringLiteral("&Edit NNTP Server"));
    mnuOptions->setObjectName(QStringLiteral("mnuOptions"));
    mnuOpen = mnuDummy->addAction(QStringLiteral("Open &Group File Cache"));
    mnuOpen->setObjectName(QStringLiteral("mnuOpen"));
    mnuQuit = mnuDummy->addAction(QStringLiteral("&Quit"));
    mnuQuit->setObjectName(QStringLiteral("mnuQuit"));
    // A menu title without items that acts when chosen.
    mnuAbout = menuBar()->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    connect(mnuOptions, &QAction::triggered, this, &frmReader::mnuOptions_Click);
    connect(mnuOpen, &QAction::triggered, this, &frmReader::Command5_Click);
    connect(mnuQuit, &QAction::triggered, this, &frmReader::close);
    connect(mnuAbout, &QAction::triggered, this, &frmReader::mnuAbout_Click);

    adjustSize();
    setFixedSize(size());
}

void frmReader::SetErrorBox(ErrorBoxFunction box)
{
    m_fnErrorBox = std::move(box);
}

void frmReader::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

// The client itself goes with the window: closing can happen from inside one
// of its notifications, which it must outlive.
void frmReader::Form_Unload()
{
    if (m_objRun)
        m_objRun->Cancel();
    EndMultiRun();
}

void frmReader::Command2_Click()
{
    close();
}

void frmReader::mnuOptions_Click()
{
    frmOptions dialog;
    dialog.exec();
}

void frmReader::mnuAbout_Click()
{
    frmAbout dialog;
    dialog.exec();
}

// ---------------------------------------------------------------------------
// Opening a group cache file

void frmReader::Command5_Click()
{
    // The pointer a run finds belongs to the run's group: a run may not go on
    // to write it into a file chosen meanwhile.
    FlushSummary();
    if (m_objRun->RunUnderWay()) {
        m_objRun->Cancel();
        EndMultiRun();
    }

    CCommonDialog dialog;
    dialog.hwnd = this;
    dialog.DialogTitle = QStringLiteral("Open...");
    dialog.InitialDir =
        modSettings::ReadProgramSetting(QStringLiteral("Path"), modStartFolder::FirstFolder());
    dialog.Filter = QStringLiteral("Group Header (*.nc1)") + QChar(0) + QStringLiteral("*.nc1");
    dialog.AllowMultiSelect = true;
    const QString result = dialog.ShowOpen();
    if (dialog.FileNames.size() > 1)
        OpenGroupFiles(dialog.FileNames);
    else if (!result.isEmpty())
        OpenGroupFile(result.chopped(1));
    Command1->setText(Go);
    Text2->setFocus(Qt::OtherFocusReason);
    Text2_GotFocus();
}

void frmReader::OpenGroupFile(const QString &path)
{
    // Shown the way the platform writes paths ("\" on Windows).
    Text1->setText(QDir::toNativeSeparators(path));
    modSettings::WriteSetting(modSettings::AppName, modSettings::Section, QStringLiteral("Path"),
                              modFile::FolderOfPath(path));
    m_strGroupFile = path;
    m_colGroupFiles = {path};
    ShowFileCount(false);
    lbInfo[0]->setText(modNBZ::GroupNameFromPath(path));
    // With the file chosen (also from the command line or a file manager),
    // the day count is what is typed next.
    Text2->setFocus(Qt::OtherFocusReason);
}

void frmReader::OpenGroupFiles(const QStringList &paths)
{
    QStringList chosen;
    QSet<QString> seen;
    for (const QString &path : paths) {
        if (!IsGroupCacheFile(path)) {
            AddLogRow(QDir::toNativeSeparators(path) +
                          QStringLiteral(" is no group cache file (*.nc1): left out."),
                      2);
            continue;
        }
        // The same file twice would be rewound twice over one search.
        const QFileInfo info(path);
        if (seen.contains(info.canonicalFilePath()))
            continue;
        seen.insert(info.canonicalFilePath());
        chosen << info.absoluteFilePath();
    }
    if (chosen.isEmpty())
        return;
    FlushSummary();
    if (m_objRun->RunUnderWay()) {
        m_objRun->Cancel();
        EndMultiRun();
    }
    Command1->setText(Go);
    if (chosen.size() == 1) {
        OpenGroupFile(chosen.first());
        return;
    }
    m_colGroupFiles = chosen;
    m_strGroupFile.clear();
    modSettings::WriteSetting(modSettings::AppName, modSettings::Section, QStringLiteral("Path"),
                              modFile::FolderOfPath(chosen.first()));
    QStringList shown;
    for (const QString &path : chosen)
        shown << QDir::toNativeSeparators(path);
    Text1->setText(QStringLiteral("%1 group cache files").arg(chosen.size()));
    Text1->setCursorPosition(0);
    Text1->setToolTip(shown.join(QLatin1Char('\n')));
    lbInfo[0]->clear();
    ShowFileCount(true);
    ProgressBar1->setRange(0, int(chosen.size()));
    ProgressBar1->setValue(0);
    Text2->setFocus(Qt::OtherFocusReason);
}

// With one file the window is exactly as it always was; several make room
// for the progress bar under the log.
void frmReader::ShowFileCount(bool several)
{
    if (!several)
        Text1->setToolTip(QString());
    lstLog->resize(lstLog->width(), several ? LogHeightWithProgress : LogHeight);
    ProgressBar1->setVisible(several);
}

void frmReader::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *data = event->mimeData();
    if (data->hasUrls()) {
        for (const QUrl &url : data->urls()) {
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
        }
    }
    event->ignore();
}

void frmReader::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        paths << (url.isLocalFile() ? url.toLocalFile() : url.toDisplayString());
    event->acceptProposedAction();
    OpenGroupFiles(paths);
}

// ---------------------------------------------------------------------------
// Day count

bool frmReader::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Text2) {
        if (event->type() == QEvent::FocusIn) {
            Text2_GotFocus();
        } else if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // Tab and Shift+Tab move the focus on; they are no characters of
            // the count, and taking them would trap a keyboard user here.
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
                return QMainWindow::eventFilter(watched, event);
            int KeyAscii = 0;
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                KeyAscii = 13;
            else if (key->key() == Qt::Key_Backspace)
                KeyAscii = 8;
            else if (key->text().size() == 1)
                KeyAscii = key->text().at(0).unicode();
            // Keys that type nothing (arrows, Delete, Home) are the box's own.
            if (KeyAscii != 0 && Text2_KeyPress(KeyAscii))
                return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmReader::Text2_GotFocus()
{
    Text2->setSelection(0, Text2->text().size());
}

// Returns true when the key is swallowed.
bool frmReader::Text2_KeyPress(int KeyAscii)
{
    if ((KeyAscii >= '0' && KeyAscii <= '9') || KeyAscii == 8)
        return false;
    if (KeyAscii == '+') {
        if (VScroll1->value() < VScroll1->maximum())
            VScroll1->setValue(VScroll1->value() + 1);
        return true;
    }
    if (KeyAscii == '-') {
        if (VScroll1->value() > VScroll1->minimum())
            VScroll1->setValue(VScroll1->value() - 1);
        return true;
    }
    if (KeyAscii == 13) {
        // An empty box or a count beyond the spinner's range cannot be
        // carried over: the spinner keeps its value and the text stays.
        if (const std::optional<int> days = modSettings::WholeNumberIn(
                Text2->text(), VScroll1->minimum(), VScroll1->maximum())) {
            VScroll1->setValue(*days);
            VScroll1_Change(*days); // "007" reads 7 even when the value was 7
        }
        return false;
    }
    return true;
}

void frmReader::VScroll1_Change(int value)
{
    Text2->setText(QString::number(value));
}

// ---------------------------------------------------------------------------
// Log

void frmReader::AddLogRow(const QString &strMessage, int MessageType)
{
    QString key = QStringLiteral("info");
    if (MessageType == 2)
        key = QStringLiteral("warning");
    else if (MessageType == 3 || MessageType == 6)
        key = QStringLiteral("abort");
    auto *row = new QTreeWidgetItem;
    row->setText(0, ResetRun::TimeOfDayText() + QLatin1Char(' ') + strMessage);
    row->setToolTip(0, strMessage);
    row->setIcon(0, ImageList1.value(key));
    lstLog->addTopLevelItem(row);
    lstLog->scrollToItem(row);
}

// ---------------------------------------------------------------------------
// The reset run

void frmReader::Command1_Click()
{
    if (Command1->text() == Go || Command1->text() == Finished) {
        // The Server Manager's choice, read at each Go like the server
        // settings: halving unless "Fast" was chosen.
        m_objRun->SetSearch(modSettings::WholeNumber(modSettings::ReadProgramSetting(
                                QStringLiteral("Search"), QStringLiteral("0"))) == 1
                                ? ResetRun::Search::Fast
                                : ResetRun::Search::Halve);
        if (m_colGroupFiles.size() > 1)
            StartMultiRun();
        else
            m_objRun->Start({{m_strGroupFile, lbInfo[0]->text()}}, Text2->text());
    } else {
        Command1->setText(Go);
        // A file is written inside one step of the run, never across two:
        // the group in progress has not been touched yet.
        const bool multi = m_blnMultiRun;
        const int done = std::max(m_intRunFile, 0);
        m_objRun->Cancel();
        if (multi) {
            AddLogRow(QStringLiteral("Cancelled: %1 of %2 groups done (%3); the others were left "
                                     "untouched.")
                          .arg(done)
                          .arg(m_colRunFiles.size())
                          .arg(MultiRunCounts(done)),
                      2);
            EndMultiRun();
        }
    }
}

void frmReader::StartMultiRun()
{
    FlushSummary();
    m_colRunFiles.clear();
    int withBackup = 0;
    for (const QString &path : std::as_const(m_colGroupFiles)) {
        m_colRunFiles.append({path, modNBZ::GroupNameFromPath(path)});
        if (modFile::FileExists(path + QStringLiteral(".bak")))
            ++withBackup;
    }
    m_intRunFile = -1;
    ProgressBar1->setRange(0, int(m_colRunFiles.size()));
    ProgressBar1->setValue(0);
    // One question for all the files whose backup exists, when there are
    // several: nobody should have to answer it dozens of times.
    if (withBackup > 1) {
        auto toAll = std::make_shared<std::optional<int>>();
        m_fnOldBackupQuestion = modFile::SetBackupQuestion([toAll](const QString &text) {
            if (*toAll)
                return **toAll;
            bool forAll = false;
            const int answer = modFile::AskWithMessageBox(text, &forAll);
            if (forAll)
                *toAll = answer;
            return answer;
        });
    }
    m_blnMultiRun = true;
    if (!m_objRun->Start(m_colRunFiles, Text2->text()))
        EndMultiRun();
}

// The run over several files is over (or never started): the ordinary
// question again, and the log's rows without a group's name.
void frmReader::EndMultiRun()
{
    if (m_fnOldBackupQuestion) {
        modFile::SetBackupQuestion(*m_fnOldBackupQuestion);
        m_fnOldBackupQuestion.reset();
    }
    m_blnMultiRun = false;
    m_intRunFile = -1;
}

// "n rewritten, m failed" over the first `upTo` files of the run, the
// failed ones named.
QString frmReader::MultiRunCounts(int upTo) const
{
    int rewritten = 0;
    QStringList failed;
    const QList<ResetRun::FileResult> &results = m_objRun->Results();
    for (int i = 0; i < upTo && i < results.size(); ++i) {
        if (results.at(i).outcome == ResetRun::Outcome::Failed)
            failed << results.at(i).group;
        else
            ++rewritten;
    }
    QString text = QStringLiteral("%1 rewritten, %2 failed").arg(rewritten).arg(failed.size());
    if (!failed.isEmpty())
        text += QStringLiteral(": ") + failed.join(QStringLiteral(", "));
    return text;
}

void frmReader::m_objRun_LogRow(const QString &strMessage, int MessageType)
{
    if (m_blnMultiRun && m_intRunFile >= 0)
        AddLogRow(m_colRunFiles.at(m_intRunFile).second + QStringLiteral(": ") + strMessage,
                  MessageType);
    else
        AddLogRow(strMessage, MessageType);
    if (!m_strPendingSummary.isEmpty() && m_objRun->Client()->State() != 4)
        FlushSummary();
}

void frmReader::FlushSummary()
{
    if (m_strPendingSummary.isEmpty())
        return;
    const QString text = std::exchange(m_strPendingSummary, QString());
    AddLogRow(text, m_intPendingSummaryKind);
}

void frmReader::m_objRun_FileStarted(int index)
{
    if (!m_blnMultiRun || index < 0 || index >= m_colRunFiles.size())
        return;
    m_intRunFile = index;
    const QString group = m_colRunFiles.at(index).second;
    lbInfo[0]->setText(group);
    ProgressBar1->setValue(index + 1);
    AddLogRow(
        QStringLiteral("Group %1 of %2: %3").arg(index + 1).arg(m_colRunFiles.size()).arg(group),
        1);
}

void frmReader::m_objRun_ShowHeader(double ArticleID, const QString &Subject,
                                    const QString &PostDate, double Age)
{
    lbInfo[1]->setText(NumberText(ArticleID));
    lbInfo[2]->setText(Subject);
    lbInfo[3]->setText(PostDate);
    lbInfo[4]->setText(NumberText(Age));
}

void frmReader::m_objRun_ServerMissing(const QString &text)
{
    if (m_fnErrorBox)
        m_fnErrorBox(text, QStringLiteral("Error"));
    else
        QMessageBox::warning(this, QStringLiteral("Error"), text);
}

void frmReader::m_objRun_Connecting()
{
    Command1->setText(Cancel);
}

void frmReader::m_objRun_RunEnded(ResetRun::End how)
{
    if (m_blnMultiRun) {
        // Every file has had its turn, whatever became of the last one.
        const int files = int(m_colRunFiles.size());
        ProgressBar1->setValue(files);
        bool failed = false;
        for (const ResetRun::FileResult &result : m_objRun->Results())
            failed |= result.outcome == ResetRun::Outcome::Failed;
        EndMultiRun();
        // The server's goodbye still comes; the summary is the row the user
        // should find last.
        m_strPendingSummary = MultiRunCounts(files);
        m_intPendingSummaryKind = failed ? 2 : 1;
        if (m_objRun->Client()->State() == 4)
            QTimer::singleShot(3000, this, &frmReader::FlushSummary);
        else
            FlushSummary();
        Command1->setText(Finished);
        Command2->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (how == ResetRun::End::Stopped) {
        Command1->setText(Go);
    } else if (how == ResetRun::End::Finished) {
        Command1->setText(Finished);
        Command2->setFocus(Qt::OtherFocusReason);
    }
    // After Cancel at the backup question the button stays on "Cancel".
}
