#pragma once
// Steps shared by the customer list and supplier negative list tests.

#include "editors/listeditor.h"
#include "editors/listeditorgrid.h"
#include "factory/factory.h"
#include "session/cacheapi.h"
#include "tests/search/searchtests.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QTest>

namespace listtests {

using namespace Qt::StringLiterals;
using searchtests::whenModal;

// The widget Tab moves to from w: the next one in the focus chain that takes tab focus.
inline QWidget *nextTabStop(QWidget *w)
{
    for (QWidget *n = w->nextInFocusChain(); n != w; n = n->nextInFocusChain())
        if ((n->focusPolicy() & Qt::TabFocus) && n->isVisibleTo(n->window()) && n->isEnabled())
            return n;
    return w;
}

// Opens the number cell's editor and types into it, leaving it open; nullptr when none opened.
inline QLineEdit *typeIntoOpenEditor(ListEditorGrid *grid, int row, const QString &text)
{
    grid->editCell(row, ListEditorGrid::NumberColumn);
    // Closed editors linger until deleted: the open one is the visible one.
    QLineEdit *editor = nullptr;
    for (QLineEdit *e : grid->viewport()->findChildren<QLineEdit *>())
        if (e->isVisible())
            editor = e;
    if (!editor)
        return nullptr;
    editor->selectAll();
    editor->del();
    QTest::keyClicks(editor, text);
    return editor;
}

// Types into a number cell as a user does: open the editor, type, Enter.
inline void typeNumber(ListEditorGrid *grid, int row, const QString &text)
{
    QPointer<QLineEdit> open(typeIntoOpenEditor(grid, row, text));
    QVERIFY(open);
    QTest::keyClick(open, Qt::Key_Return);
    // The view commits and closes the editor on its next turn, as it does for a user.
    QTRY_VERIFY(!open || !open->isVisible());
}

inline void clickSearchCell(ListEditorGrid *grid, int row)
{
    const QRect rect = grid->cellRect(row, ListEditorGrid::SearchColumn);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, rect.center());
}

inline QStringList column(ListEditorGrid *grid, int c)
{
    QStringList texts;
    for (int r = 0; r < grid->rowCount(); ++r)
        texts << grid->cellText(r, c);
    return texts;
}

// The tenant's stored list, read through a connection of the test's own.
inline QStringList storedNumbers(factory::Factory &probe, const QString &suffix, const QString &method)
{
    const QVariant handle = probe.Static(u"orvanta.wexl"_s + suffix)->call(method, {u"1"_s, u"orvanta.wexl"_s});
    const factory::ResultSetPtr rows = probe.ResultSet(u"VR.XW"_s, u"Liste"_s);
    rows->Execute({handle});
    QStringList numbers;
    while (rows->Next())
        numbers << cacheapi::Piece(factory::toText(rows->GetData(1)), u"|"_s, 1);
    rows->Close();
    return numbers;
}

// The text of a PDF (one page, or all with page 0), as a reader's search would find it.
inline QString pdfText(const QString &path, int page = 0)
{
    QStringList args;
    if (page > 0)
        args << u"-f"_s << QString::number(page) << u"-l"_s << QString::number(page);
    args << u"-raw"_s << path << u"-"_s;
    QProcess p;
    p.start(u"pdftotext"_s, args);
    if (!p.waitForFinished(30000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace listtests
