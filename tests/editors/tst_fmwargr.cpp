// The product-group window against a seeded server: loading the general and a customer's
// choice, the tick rules, and saving (also a save the server refuses half-way).
#include "editors/FMWargr.h"
#include "editors/choicesave.h"
#include "factory/factory.h"
#include "main/orvanta.h"
#include "platform/platform.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "tests/support/sessionfixture.h"

#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
// The widget Tab moves to from w: the next one in the focus chain that takes tab focus.
QWidget *nextTabStop(QWidget *w)
{
    for (QWidget *n = w->nextInFocusChain(); n != w; n = n->nextInFocusChain())
        if ((n->focusPolicy() & Qt::TabFocus) && n->isVisibleTo(n->window()) && n->isEnabled())
            return n;
    return w;
}

struct StoredGroup
{
    QString firma, number, text, kunde;
    bool operator==(const StoredGroup &) const = default;
    bool operator<(const StoredGroup &o) const
    {
        return std::tie(kunde, number, text, firma) < std::tie(o.kunde, o.number, o.text, o.firma);
    }
};

char *toString(const StoredGroup &g)
{
    return QTest::toString(g.firma + u'/' + g.kunde + u'/' + g.number + u'/' + g.text);
}

// Every stored orvanta.wargr object, read by id through a connection of its own (the class
// numbers its objects), sorted.
QList<StoredGroup> storedGroups(factory::Factory &probe)
{
    QList<StoredGroup> groups;
    for (int id = 1; id <= 300; ++id) {
        try {
            const factory::InstancePtr o = probe.OpenId(u"orvanta.wargr"_s, QString::number(id));
            const QVariant raw = o->get(u"txtwarengruppe"_s);
            groups.append({factory::toText(o->get(u"Firma"_s)), factory::toText(o->get(u"numwarengruppe"_s)),
                           factory::toText(o->call(u"txtwarengruppeLogicalToODBC"_s, {raw})),
                           factory::toText(o->get(u"numkunde"_s))});
            o->sys_close();
        } catch (const factory::Error &e) {
            if (e.number() != factory::ErrorCode::ObjectNotFound)
                throw;
        }
    }
    std::sort(groups.begin(), groups.end());
    return groups;
}

QList<StoredGroup> ofCustomer(const QList<StoredGroup> &all, const QString &kunde)
{
    QList<StoredGroup> result;
    std::copy_if(all.begin(), all.end(), std::back_inserter(result),
                 [&](const StoredGroup &g) { return g.kunde == kunde; });
    return result;
}

} // namespace

class tst_FMWargr : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loadsGeneralChoiceAndCustomers();
    void controlsAsDesigned();
    void customerChoiceLoadsOnBothNotifications();
    void listHandleZeroKeepsTree();
    void tickRules();
    void savesTickedGroupsOfCustomer();
    void savingUntouchedOverrideRowStoresNothingForIt();
    void savingNothingTickedDeletes();
    void refusedObjectLeavesStoredChoice();
    void serverLostMidSaveLeavesStoredChoice();
    void verwerfenWritesNothingAndPlacementIsKept();
    void missingParameterObjectIsReported();

private:
    FMWargr *openWindow();
    QStandardItem *item(const QString &key) const;
    static Qt::CheckState state(const QStandardItem *item) { return FMWargr::checkItem(item)->checkState(); }
    static void tick(QStandardItem *item, Qt::CheckState state) { FMWargr::checkItem(item)->setCheckState(state); }
    bool expanded(const QStandardItem *item) const { return m_tree->isExpanded(item->index()); }
    int topLevelCount() const { return m_tree->model()->rowCount(); }
    QStringList tickedKeys() const;
    int customerIndex(const QString &kunde) const;

    std::unique_ptr<SessionFixture> m_fx;
    FMWargr *m_window = nullptr;
    QTreeView *m_tree = nullptr;
    QComboBox *m_kunden = nullptr;
};

void tst_FMWargr::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_FMWargr::cleanup()
{
    m_window = nullptr;
    m_tree = nullptr;
    m_kunden = nullptr;
    m_fx.reset();
}

FMWargr *tst_FMWargr::openWindow()
{
    m_window = cacheapi::form<FMWargr>();
    m_tree = m_window->findChild<QTreeView *>(u"trwargr"_s);
    m_kunden = m_window->findChild<QComboBox *>(u"likund"_s);
    m_window->show();
    return m_window;
}

QStandardItem *tst_FMWargr::item(const QString &key) const
{
    const auto items = m_window->treeItems();
    for (QStandardItem *i : items)
        if (FMWargr::itemKey(i) == key)
            return i;
    return nullptr;
}

QStringList tst_FMWargr::tickedKeys() const
{
    QStringList keys;
    const auto items = m_window->treeItems();
    for (QStandardItem *i : items)
        if (state(i) == Qt::Checked)
            keys << FMWargr::itemKey(i);
    return keys;
}

int tst_FMWargr::customerIndex(const QString &kunde) const
{
    for (int i = 0; i < m_kunden->count(); ++i)
        if (cacheapi::Piece(m_kunden->itemText(i), u"\n"_s, 2) == kunde)
            return i;
    return -1;
}

void tst_FMWargr::loadsGeneralChoiceAndCustomers()
{
    openWindow();
    auto *timer = m_window->findChild<QTimer *>(u"Timer1"_s);
    QVERIFY(timer);
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 1);
    QTRY_VERIFY(topLevelCount() > 0);
    QVERIFY(!timer->isActive());
    QCOMPARE(orvanta::Dbpraefix, u"orvanta.wexl"_s);
    QCOMPARE(m_fx->boxes().count(), 0);

    // The empty entry first, then "name\nnumber" per customer of the list.
    QCOMPARE(m_kunden->count(), 4);
    QCOMPARE(m_kunden->currentIndex(), 0);
    QCOMPARE(m_kunden->itemText(0), QString());
    QCOMPARE(m_kunden->itemText(1), u"Müller Bau GmbH\n10001"_s);
    QVERIFY(customerIndex(u"10002"_s) > 0);
    QVERIFY(customerIndex(u"10003"_s) > 0);

    QCOMPARE(tickedKeys(), (QStringList{u"1|0"_s, u"5|3"_s}));
    QStandardItem *werkzeuge = item(u"5|0"_s);
    QStandardItem *elektro = item(u"5|3"_s);
    QVERIFY(werkzeuge && elektro);
    QCOMPARE(FMWargr::itemText(werkzeuge), u"5\n\nWerkzeuge"_s);
    QCOMPARE(FMWargr::itemText(elektro), u"3\n\nElektrowerkzeuge"_s);
    QCOMPARE(elektro->parent(), werkzeuge);
    QCOMPARE(item(u"12|0"_s)->parent(), nullptr);

    // Group 5 is not chosen itself but one of its subgroups is: shown open and unticked.
    QVERIFY(expanded(werkzeuge));
    QCOMPARE(state(werkzeuge), Qt::Unchecked);
    QVERIFY(!expanded(item(u"1|0"_s)));
    QVERIFY(!expanded(item(u"12|0"_s)));

}

void tst_FMWargr::controlsAsDesigned()
{
    openWindow();
    QCOMPARE(m_window->windowTitle(), u"Varelo Orvanta Web - Warengruppen"_s);
    QVERIFY(m_window->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(m_window->windowFlags() & Qt::WindowMaximizeButtonHint);
    QCOMPARE(m_window->size(), QSize(660, 559));

    const QAbstractItemModel *model = m_tree->model();
    QCOMPARE(model->columnCount(), 3);
    const QStringList headers{model->headerData(0, Qt::Horizontal).toString(),
                              model->headerData(1, Qt::Horizontal).toString(),
                              model->headerData(2, Qt::Horizontal).toString()};
    QCOMPARE(headers, (QStringList{u"Wargr"_s, QString(), u"Bezeichnung"_s}));
    QCOMPARE(m_tree->columnWidth(0), 90);
    QCOMPARE(m_tree->columnWidth(1), 15);
    QCOMPARE(m_tree->columnWidth(2), 200);

    auto *speichern = m_window->findChild<QPushButton *>(u"BuSpeich"_s);
    auto *verwerfen = m_window->findChild<QPushButton *>(u"BUClose"_s);
    QTRY_VERIFY(topLevelCount() > 0);
    QCOMPARE(nextTabStop(m_tree), speichern);
    QCOMPARE(nextTabStop(speichern), verwerfen);
    QCOMPARE(nextTabStop(verwerfen), m_kunden);
    QCOMPARE(nextTabStop(m_kunden), m_tree);

    // The tree follows the window's height, keeps its width; the rest keep their places.
    const int width = m_tree->width();
    const QPoint comboAt = m_kunden->pos();
    m_window->resize(800, 700);
    QCOMPARE(m_tree->width(), width);
    QVERIFY(m_tree->height() <= 700);
    QVERIFY(m_tree->height() >= 700 - 400 / orvanta::twipsPerPixelY() - 1);
    QCOMPARE(m_kunden->pos(), comboAt);
}

void tst_FMWargr::customerChoiceLoadsOnBothNotifications()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const int mueller = customerIndex(u"10001"_s);
    QVERIFY(mueller > 0);

    m_kunden->setCurrentIndex(mueller); // the selection change
    QCOMPARE(tickedKeys(), QStringList{u"2|0"_s});
    QVERIFY(!expanded(item(u"5|0"_s)));

    // The click notification reads the current selection.
    {
        const QSignalBlocker blocker(m_kunden);
        m_kunden->setCurrentIndex(0);
    }
    QCOMPARE(tickedKeys(), QStringList{u"2|0"_s});
    emit m_kunden->activated(0);
    QCOMPARE(tickedKeys(), (QStringList{u"1|0"_s, u"5|3"_s}));

    QVERIFY(m_window->getWgrKunde(u"10001"_s));
    QCOMPARE(tickedKeys(), QStringList{u"2|0"_s});
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_FMWargr::listHandleZeroKeepsTree()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const int before = m_window->treeItems().size();
    tick(item(u"12|0"_s), Qt::Checked);

    // Tenant 3 has no product groups: the server answers no list.
    cacheapi::Firma = u"3"_s;
    QVERIFY(m_window->getWgrKunde(QString()));
    cacheapi::Firma = u"1"_s;
    QCOMPARE(m_window->treeItems().size(), before);
    QCOMPARE(tickedKeys(), (QStringList{u"1|0"_s, u"5|3"_s, u"12|0"_s}));
    QCOMPARE(m_fx->boxes().count(), 0);
}

void tst_FMWargr::tickRules()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    QStandardItem *main = item(u"5|0"_s);
    QVERIFY(main->rowCount() >= 2);
    QStandardItem *first = main->child(0);
    QStandardItem *last = main->child(main->rowCount() - 1);

    // A main group ticked clears all its subgroups and closes; nothing else changes.
    tick(first, Qt::Checked);
    tick(last, Qt::Checked);
    QVERIFY(expanded(main));
    tick(main, Qt::Checked);
    for (int i = 0; i < main->rowCount(); ++i)
        QCOMPARE(state(main->child(i)), Qt::Unchecked);
    QVERIFY(!expanded(main));
    QCOMPARE(state(item(u"1|0"_s)), Qt::Checked);
    QCOMPARE(state(item(u"6|0"_s)), Qt::Unchecked);

    // A subgroup ticked clears its main group only.
    QStandardItem *six = item(u"6|0"_s);
    QVERIFY(six->rowCount() >= 1);
    tick(six->child(0), Qt::Checked);
    tick(last, Qt::Checked);
    QCOMPARE(state(main), Qt::Unchecked);
    QCOMPARE(state(six->child(0)), Qt::Checked);
    QCOMPARE(state(item(u"1|0"_s)), Qt::Checked);

    // Unticking changes nothing else.
    const QStringList before = tickedKeys();
    tick(last, Qt::Unchecked);
    QStringList expected = before;
    expected.removeOne(FMWargr::itemKey(last));
    QCOMPARE(tickedKeys(), expected);

    // The group's other subgroups are left alone by a subgroup tick.
    tick(first, Qt::Checked);
    tick(last, Qt::Checked);
    QCOMPARE(state(first), Qt::Checked);

    // A click on the box in the narrow second column ticks it, and the rules follow.
    m_tree->expand(main->index());
    const QRect box = m_tree->visualRect(main->index());
    const int x = m_tree->header()->sectionViewportPosition(1) + 7;
    QTest::mouseClick(m_tree->viewport(), Qt::LeftButton, {}, QPoint(x, box.center().y()));
    QCOMPARE(state(main), Qt::Checked);
    QCOMPARE(state(first), Qt::Unchecked);
    QVERIFY(!expanded(main));
}

void tst_FMWargr::savesTickedGroupsOfCustomer()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const QList<StoredGroup> generalBefore = ofCustomer(storedGroups(m_fx->probe()), QString());
    m_kunden->setCurrentIndex(customerIndex(u"10001"_s));
    QCOMPARE(tickedKeys(), QStringList{u"2|0"_s});

    tick(item(u"2|0"_s), Qt::Unchecked);
    tick(item(u"12|0"_s), Qt::Checked);
    tick(item(u"5|3"_s), Qt::Checked);
    const QString text12 = item(u"12|0"_s)->index().siblingAtColumn(2).data().toString();
    const quint64 before = cacheapi::Factory->roundTrips();
    QTest::mouseClick(m_window->findChild<QPushButton *>(u"BuSpeich"_s), Qt::LeftButton);
    // TSTART, the delete, the saves' answers together, TCOMMIT: however many ticks.
    QCOMPARE(cacheapi::Factory->roundTrips() - before, quint64(4));
    QCOMPARE(m_fx->boxes().count(), 0);
    QVERIFY(!m_window->isVisible());

    const QList<StoredGroup> stored = storedGroups(m_fx->probe());
    QCOMPARE(ofCustomer(stored, u"10001"_s),
             (QList<StoredGroup>{{u"1"_s, u"0503"_s, u"Elektrowerkzeuge"_s, u"10001"_s},
                                 {u"1"_s, u"1200"_s, text12, u"10001"_s}}));
    QCOMPARE(ofCustomer(stored, QString()), generalBefore);
}

void tst_FMWargr::savingUntouchedOverrideRowStoresNothingForIt()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    QVERIFY(expanded(item(u"5|0"_s)));
    m_window->findChild<QPushButton *>(u"BuSpeich"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 0);

    const QList<StoredGroup> general = ofCustomer(storedGroups(m_fx->probe()), QString());
    QStringList numbers;
    for (const StoredGroup &g : general)
        numbers << g.number;
    QCOMPARE(numbers, (QStringList{u"0100"_s, u"0503"_s}));
}

void tst_FMWargr::savingNothingTickedDeletes()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const auto items = m_window->treeItems();
    for (QStandardItem *i : items)
        tick(i, Qt::Unchecked);
    m_window->findChild<QPushButton *>(u"BuSpeich"_s)->click();
    QCOMPARE(m_fx->boxes().count(), 0);

    const QList<StoredGroup> stored = storedGroups(m_fx->probe());
    QVERIFY(ofCustomer(stored, QString()).isEmpty());
    QCOMPARE(ofCustomer(stored, u"10001"_s).size(), 1); // another customer's choice stays
}

void tst_FMWargr::refusedObjectLeavesStoredChoice()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const QList<StoredGroup> before = storedGroups(m_fx->probe());

    // The last tick names a group the server does not know: it refuses that object after
    // the delete and the earlier objects went through.
    tick(item(u"12|0"_s), Qt::Checked);
    QStandardItem *last = m_window->treeItems().constLast();
    last->setData(u"99|9"_s, Qt::UserRole);
    tick(last, Qt::Checked);
    const QStringList ticks = tickedKeys();

    auto *speichern = m_window->findChild<QPushButton *>(u"BuSpeich"_s);
    speichern->click();
    QCOMPARE(m_fx->boxes().count(), 1);
    const platform::ShownMessage box = m_fx->boxes().last();
    QCOMPARE(box.title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(box.text.startsWith(u"Vorgang: FMWargr.BuSpeich_Click"_s), qPrintable(box.text));
    QVERIFY2(box.text.contains(u"Fehler: 2009"_s), qPrintable(box.text));
    QVERIFY(m_window->isVisible());
    QCOMPARE(tickedKeys(), ticks);
    QCOMPARE(storedGroups(m_fx->probe()), before);

    // The transaction is over: mending the tick and saving again stores the new choice.
    tick(last, Qt::Unchecked);
    speichern->click();
    QCOMPARE(m_fx->boxes().count(), 1);
    QVERIFY(!m_window->isVisible());
    QStringList numbers;
    for (const StoredGroup &g : ofCustomer(storedGroups(m_fx->probe()), QString()))
        numbers << g.number;
    QCOMPARE(numbers, (QStringList{u"0100"_s, u"0503"_s, u"1200"_s}));

    // One refused among 300 saves, sent without waiting for each other: its error, and
    // nothing of the others stored.
    const QList<StoredGroup> stored = storedGroups(m_fx->probe());
    const quint64 tripsBefore = cacheapi::Factory->roundTrips();
    const bool saved = editors::choice::saveInTransaction(u"Test Speichern"_s, [&] {
        cacheapi::Factory->Static(u"orvanta.wargr"_s)->call(u"Delete"_s, {cacheapi::Firma, QString()});
        for (int i = 0; i < 300; ++i) {
            factory::InstancePtr object = cacheapi::Factory->New(u"orvanta.wargr"_s);
            object->set(u"Firma"_s, cacheapi::Firma);
            object->set(u"numwarengruppe"_s, i == 150 ? u"9909"_s : u"0100"_s);
            object->set(u"numkunde"_s, QString());
            object->sys_Save();
            cacheapi::CloseObject(object);
        }
    });
    QVERIFY(!saved);
    QCOMPARE(cacheapi::Factory->roundTrips() - tripsBefore, quint64(4)); // TSTART, delete, answers, TROLLBACK
    QCOMPARE(m_fx->boxes().count(), 2);
    QVERIFY2(m_fx->boxes().last().text.contains(u"Fehler: 2009"_s)
                 && m_fx->boxes().last().text.contains(u"Warengruppe '9909' gibt es bei Firma '1' nicht"_s),
             qPrintable(m_fx->boxes().last().text));
    QCOMPARE(storedGroups(m_fx->probe()), stored);
}

void tst_FMWargr::serverLostMidSaveLeavesStoredChoice()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const QList<StoredGroup> before = storedGroups(m_fx->probe());
    QVERIFY(!ofCustomer(before, QString()).isEmpty());

    // The server dies after the delete went through inside the transaction.
    const bool saved = editors::choice::saveInTransaction(u"Test Speichern"_s, [&] {
        factory::ClassObjectPtr wargr = cacheapi::Factory->Static(u"orvanta.wargr"_s);
        wargr->call(u"Delete"_s, {cacheapi::Firma, QString()});
        m_fx->server().kill();
        factory::InstancePtr object = cacheapi::Factory->New(u"orvanta.wargr"_s);
        object->set(u"Firma"_s, cacheapi::Firma);
        object->set(u"numwarengruppe"_s, u"1200"_s);
        object->sys_Save();
    });
    QVERIFY(!saved);
    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Caché Zugriffsfehler"_s);
    QVERIFY2(m_fx->boxes().last().text.startsWith(u"Vorgang: Test Speichern"_s), qPrintable(m_fx->boxes().last().text));

    QVERIFY(m_fx->server().restart());
    QCOMPARE(storedGroups(m_fx->probe()), before);
}

void tst_FMWargr::verwerfenWritesNothingAndPlacementIsKept()
{
    openWindow();
    QTRY_VERIFY(topLevelCount() > 0);
    const QList<StoredGroup> before = storedGroups(m_fx->probe());
    const auto items = m_window->treeItems();
    for (QStandardItem *i : items)
        tick(i, Qt::Unchecked);
    m_window->resize(700, 600);
    QTest::mouseClick(m_window->findChild<QPushButton *>(u"BUClose"_s), Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
    QCOMPARE(storedGroups(m_fx->probe()), before);

    cacheapi::Unload(m_window);
    QVERIFY(platform::HasSetting(u"OrvantaWeb"_s, u"Windowpos"_s, u"FMWargr"_s));
    openWindow();
    QCOMPARE(m_window->size(), QSize(700, 600));
}

void tst_FMWargr::missingParameterObjectIsReported()
{
    // Tenant 2 has no parameter object yet: nothing loads, the window stays usable.
    m_fx.reset();
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start(u"2"_s));
    openWindow();
    QTRY_COMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Caché Zugriffsfehler"_s);
    QVERIFY(m_fx->boxes().last().text.startsWith(u"Vorgang: FMWargr.Timer1_Timer"_s));
    QCOMPARE(topLevelCount(), 0);
    QCOMPARE(m_kunden->count(), 0);
    QVERIFY(m_window->isVisible());
    // Nothing was read, so nothing may be replaced.
    QVERIFY(!m_window->findChild<QPushButton *>(u"BuSpeich"_s)->isEnabled());
    QVERIFY(m_window->findChild<QPushButton *>(u"BUClose"_s)->isEnabled());
}

QTEST_MAIN(tst_FMWargr)
#include "tst_fmwargr.moc"
