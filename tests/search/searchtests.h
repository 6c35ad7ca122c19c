#pragma once
// Shared steps of the search window tests.

#include "factory/factory.h"
#include "search/searchwindow.h"
#include "session/frmProgrammverlauf.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace searchtests {

using namespace Qt::StringLiterals;

// Runs action on the modal window of type T as soon as it is up (a modal dialog's own loop
// is running then); gives up after a few seconds so a failing test cannot hang.
template <class T> void whenModal(std::function<void(T *)> action)
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [=] {
        if (auto *w = qobject_cast<T *>(QApplication::activeModalWidget())) {
            QPointer<T> guard(w);
            action(w);
            if (guard && guard->isVisible() && QApplication::activeModalWidget() == guard) {
                qWarning("whenModal: window still open after the action; closing it");
                guard->close();
            }
            return;
        }
        if (timer->elapsed() < 10000) {
            QTimer::singleShot(10, *poll);
        } else if (QWidget *other = QApplication::activeModalWidget()) {
            qWarning("whenModal: another modal window is up: %s", qPrintable(other->objectName()));
            other->close();
        }
    };
    QTimer::singleShot(0, *poll);
}

// Types text key by key, umlauts included (QTest::keyClicks takes ASCII only).
inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key(c.toUpper().unicode()), c, Qt::NoModifier);
}

inline void selectItem(SearchWindow *w, const QString &combo, const QString &startsWith)
{
    auto *box = w->findChild<QComboBox *>(combo);
    QVERIFY(box);
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).startsWith(startsWith)) {
            box->setCurrentIndex(i);
            return;
        }
    QFAIL(qPrintable(u"no item "_s + startsWith));
}

inline void search(SearchWindow *w, const QString &term)
{
    w->findChild<QLineEdit *>(u"SKBEZ"_s)->setText(term);
    w->findChild<QPushButton *>(u"BUSuch"_s)->click();
}

inline void doubleClickRow(QAbstractItemView *view, int row)
{
    const QRect rect = view->visualRect(view->model()->index(row, 1));
    // A double click as the mouse delivers it: the view picks only the row it was pressed on.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.center());
}

// Rows of KkrSuche read through a connection of the test's own.
inline QList<QStringList> serverHits(factory::Factory &probe, const QVariantList &args)
{
    const factory::ResultSetPtr rs = probe.ResultSet(u"VR.Windows"_s, u"KkrSuche"_s);
    rs->Execute(args);
    QList<QStringList> rows;
    while (rs->Next()) {
        QStringList row;
        for (int c = 1; c <= 5; ++c)
            row << factory::toText(rs->GetData(c));
        rows << row;
    }
    rs->Close();
    return rows;
}

// The newest trace lines as "source;step;detail".
inline QStringList traceLines()
{
    QStringList lines;
    auto *history = cacheapi::formIfLoaded<cacheapi::frmProgrammverlauf>();
    if (!history)
        return lines;
    QTreeWidget *list = history->Verlauf();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *it = list->topLevelItem(i);
        lines << it->text(0) + u';' + it->text(1) + u';' + it->text(2);
    }
    return lines;
}

} // namespace searchtests
