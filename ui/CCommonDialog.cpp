#include "ui/CCommonDialog.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace
{

QStringList Patterns(const QString &item)
{
    return item.split(QRegularExpression(QStringLiteral("[; ]")), Qt::SkipEmptyParts);
}

// "*.*" means every file where such filter lists come from; here it would
// pass over names without a dot.
QString QtPatterns(const QStringList &patterns)
{
    QStringList qt;
    for (const QString &pattern : patterns)
        qt << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    return qt.join(QLatin1Char(' '));
}

} // namespace

QStringList CCommonDialog::NameFilters(const QString &filter)
{
    // The dialog reads a filter's patterns from the closing parentheses of
    // its text: keep a description that shows its own patterns, and add
    // them to one that does not.
    static const QRegularExpression shown(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    const QStringList items = filter.split(QChar(0));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
        const QString &description = items[i];
        const QStringList patterns = Patterns(items[i + 1]);
        if (description.isEmpty() && patterns.isEmpty())
            break; // the empty pair that ends a filter list
        const auto match = shown.match(description);
        if (match.hasMatch() && Patterns(match.captured(1)) == patterns)
            filters << description.left(match.capturedStart()) + u'(' + QtPatterns(patterns) + u')';
        else
            filters << QStringLiteral("%1 (%2)").arg(description, QtPatterns(patterns));
    }
    return filters;
}

QString CCommonDialog::ShowOpen()
{
    return ShowFileDialog(false);
}

QString CCommonDialog::ShowSave()
{
    return ShowFileDialog(true);
}

QString CCommonDialog::ShowFileDialog(bool save)
{
    QFileDialog dialog(hwnd, DialogTitle, InitialDir);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    FileNames.clear();
    dialog.setFileMode(!save && AllowMultiSelect ? QFileDialog::ExistingFiles
                                                 : QFileDialog::AnyFile);
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QStringList filters = NameFilters(Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.value(m_intFilterIndex, filters.first()));
    }
    if (!filename.isEmpty())
        dialog.selectFile(filename);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return QString();
    if (!filters.isEmpty())
        m_intFilterIndex = qMax(0, filters.indexOf(dialog.selectedNameFilter()));
    FileNames = chosen;
    return chosen.first() + QChar(0);
}

QString CCommonDialog::BrowseFolder()
{
    QFileDialog dialog(hwnd, DialogTitle, InitialDir);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}
