// The interface parameter window against a seeded server: the first opening of a tenant
// without parameters, the stored values as loaded, the list-price codes, save and discard.
#include "editors/FMParam.h"
#include "factory/factory.h"
#include "session/cacheapi.h"
#include "session/forms.h"
#include "tests/support/sessionfixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

class tst_FMParam : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstOpeningCreatesObject();
    void loadsStoredValues();
    void labelsTabOrderAndFocus();
    void unknownListPriceCodeSelectsNothing_data();
    void unknownListPriceCodeSelectsNothing();
    void saveStoresFieldsAsTyped();
    void saveWithoutEditingStoresTemplate();
    void saveWithoutMethodStoresEmptyCode();
    void discardLeavesObject();
    void failedSaveKeepsWindowAndValues();
    void failedLoadDisablesSave();

private:
    void open();
    QLineEdit *field(const QString &name) const { return m_window->findChild<QLineEdit *>(name); }
    QComboBox *combo() const { return m_window->findChild<QComboBox *>(u"liprart"_s); }
    QString stored(const QString &firma, const QString &property);
    void store(const QString &firma, const QString &property, const QString &value);
    void click(const QString &button);

    std::unique_ptr<SessionFixture> m_fx;
    QPointer<FMParam> m_window;
};

void tst_FMParam::init()
{
    m_fx = std::make_unique<SessionFixture>();
    QVERIFY(m_fx->start());
}

void tst_FMParam::cleanup()
{
    m_fx.reset();
    QVERIFY(!m_window);
}

void tst_FMParam::open()
{
    m_window = cacheapi::form<FMParam>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

QString tst_FMParam::stored(const QString &firma, const QString &property)
{
    auto param = m_fx->probe().OpenId(u"orvanta.param"_s, firma);
    return factory::toText(param->get(property));
}

void tst_FMParam::store(const QString &firma, const QString &property, const QString &value)
{
    auto param = m_fx->probe().OpenId(u"orvanta.param"_s, firma);
    param->set(property, value);
    param->sys_Save();
}

void tst_FMParam::click(const QString &button)
{
    auto *b = m_window->findChild<QPushButton *>(button);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

void tst_FMParam::firstOpeningCreatesObject()
{
    // Tenant 3 has no parameter object yet.
    QVERIFY_THROWS_EXCEPTION(factory::Error, m_fx->probe().OpenId(u"orvanta.param"_s, u"3"_s));
    cacheapi::Firma = u"3"_s;
    open();

    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(stored(u"3"_s, u"Firma"_s), u"3"_s);
    QCOMPARE(stored(u"3"_s, u"dbgateway"_s), QString());
    QCOMPARE(field(u"txtdbgateway"_s)->text(), u"cn_iptcp:<server>[1972]:<namespace>"_s);
    for (const QString &name : {u"txtdbbmecat"_s, u"txtdbqtport"_s, u"txtfileexport"_s, u"txtfileimport"_s,
                                u"txtdbpraefix"_s})
        QVERIFY2(field(name)->text().isEmpty(), qPrintable(name));
    QCOMPARE(combo()->currentIndex(), -1);
    QCOMPARE(combo()->count(), 3);

    // Discarding keeps the object the opening created.
    click(u"BUClose"_s);
    QVERIFY(m_window->isHidden());
    QCOMPARE(stored(u"3"_s, u"Firma"_s), u"3"_s);
    QCOMPARE(cacheapi::BusyDepth, 0);
}

void tst_FMParam::loadsStoredValues()
{
    open();
    QCOMPARE(m_window->windowTitle(), u"Varelo Orvanta Web - Parameter"_s);
    QCOMPARE(field(u"txtdbgateway"_s)->text(), u"cn_iptcp:127.0.0.1[1973]:GATEWAY"_s);
    QCOMPARE(field(u"txtdbbmecat"_s)->text(), u"cn_iptcp:127.0.0.1[1973]:GATEWAY"_s);
    QCOMPARE(field(u"txtfileexport"_s)->text(), u"wexl_export.txt"_s);
    QCOMPARE(field(u"txtfileimport"_s)->text(), u"wexl_export.txt"_s);
    QCOMPARE(field(u"txtdbpraefix"_s)->text(), u"orvanta.wexl"_s);
    QCOMPARE(field(u"txtdbqtport"_s)->text(), u"4900"_s);
    QCOMPARE(combo()->currentText(), u"Bruttopreis"_s);
    QCOMPARE(combo()->currentData().toString(), u"B"_s);
    const QStringList codes = {combo()->itemData(0).toString(), combo()->itemData(1).toString(),
                               combo()->itemData(2).toString()};
    QCOMPARE(codes, (QStringList{u"I"_s, u"B"_s, u"V"_s}));
    QCOMPARE(combo()->itemText(0), u"Indikator"_s);
    QCOMPARE(combo()->itemText(2), u"Verkaufspreis"_s);
}

void tst_FMParam::labelsTabOrderAndFocus()
{
    open();
    const QHash<QString, QString> labels = {{u"txtdbgateway"_s, u"DB-Definition Gateway:"_s},
                                            {u"txtdbbmecat"_s, u"DB-Definition BMECAT:"_s},
                                            {u"txtdbqtport"_s, u"DB-Port QT(4900):"_s},
                                            {u"txtfileexport"_s, u"Exportdatei WWS:"_s},
                                            {u"txtfileimport"_s, u"Importdatei Gateway:"_s},
                                            {u"liprart"_s, u"Listpreisberechnung:"_s},
                                            {u"txtdbpraefix"_s, u"DB.Präfix (z.B.orvanta.wexl):"_s}};
    for (QLabel *label : m_window->findChildren<QLabel *>()) {
        if (!label->buddy())
            continue;
        QCOMPARE(label->text(), labels.value(label->buddy()->objectName()));
    }
    int buddies = 0;
    for (QLabel *label : m_window->findChildren<QLabel *>())
        buddies += label->buddy() ? 1 : 0;
    QCOMPARE(buddies, 7);

    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QTRY_COMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), u"BUSpeich"_s);
    const QStringList expected = {u"BUClose"_s,      u"txtdbgateway"_s, u"txtfileexport"_s,
                                  u"txtfileimport"_s, u"liprart"_s,     u"txtdbpraefix"_s,
                                  u"txtdbbmecat"_s,  u"txtdbqtport"_s,   u"BUSpeich"_s};
    QStringList order;
    for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(order, expected);
}

void tst_FMParam::unknownListPriceCodeSelectsNothing_data()
{
    QTest::addColumn<QString>("code");
    QTest::newRow("unknown") << u"X"_s;
    QTest::newRow("empty") << QString();
    QTest::newRow("entry text") << u"Bruttopreis"_s;
}

void tst_FMParam::unknownListPriceCodeSelectsNothing()
{
    QFETCH(QString, code);
    store(u"1"_s, u"liprart"_s, code);
    open();
    QCOMPARE(combo()->currentIndex(), -1);
    QCOMPARE(m_window->selectedListPriceCode(), QString());
}

void tst_FMParam::saveStoresFieldsAsTyped()
{
    open();
    field(u"txtdbgateway"_s)->setText(u" cn_iptcp:10.0.0.9[1972]:GW "_s);
    field(u"txtdbbmecat"_s)->setText(u"cn_iptcp:10.0.0.9[1972]:BMECAT"_s);
    field(u"txtdbqtport"_s)->setText(u"abc"_s);
    field(u"txtfileexport"_s)->setText(u"export neu.txt"_s);
    field(u"txtfileimport"_s)->setText(u"import.txt"_s);
    field(u"txtdbpraefix"_s)->setText(u"orvanta.nord"_s);
    combo()->setCurrentIndex(2);
    click(u"BUSpeich"_s);

    QVERIFY(m_window->isHidden());
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(stored(u"1"_s, u"dbgateway"_s), u" cn_iptcp:10.0.0.9[1972]:GW "_s);
    QCOMPARE(stored(u"1"_s, u"dbbmecat"_s), u"cn_iptcp:10.0.0.9[1972]:BMECAT"_s);
    QCOMPARE(stored(u"1"_s, u"dbport"_s), u"abc"_s);
    QCOMPARE(stored(u"1"_s, u"fileexport"_s), u"export neu.txt"_s);
    QCOMPARE(stored(u"1"_s, u"fileimport"_s), u"import.txt"_s);
    QCOMPARE(stored(u"1"_s, u"dbpraefix"_s), u"orvanta.nord"_s);
    QCOMPARE(stored(u"1"_s, u"liprart"_s), u"V"_s);
    QCOMPARE(cacheapi::BusyDepth, 0);

    // A fresh opening shows what was stored.
    cacheapi::Unload(m_window);
    open();
    QCOMPARE(combo()->currentText(), u"Verkaufspreis"_s);
    QCOMPARE(field(u"txtdbpraefix"_s)->text(), u"orvanta.nord"_s);
}

void tst_FMParam::saveWithoutEditingStoresTemplate()
{
    store(u"1"_s, u"dbgateway"_s, QString());
    open();
    QCOMPARE(field(u"txtdbgateway"_s)->text(), FMParam::gatewayTemplate());
    click(u"BUSpeich"_s);
    QCOMPARE(stored(u"1"_s, u"dbgateway"_s), u"cn_iptcp:<server>[1972]:<namespace>"_s);
    QCOMPARE(stored(u"1"_s, u"liprart"_s), u"B"_s);
}

void tst_FMParam::saveWithoutMethodStoresEmptyCode()
{
    open();
    combo()->setCurrentIndex(-1);
    click(u"BUSpeich"_s);
    QVERIFY(m_window->isHidden());
    QCOMPARE(m_fx->boxes().count(), 0);
    QCOMPARE(stored(u"1"_s, u"liprart"_s), QString());
}

void tst_FMParam::discardLeavesObject()
{
    open();
    field(u"txtdbpraefix"_s)->setText(u"orvanta.anders"_s);
    combo()->setCurrentIndex(0);
    click(u"BUClose"_s);
    QVERIFY(m_window->isHidden());
    QCOMPARE(stored(u"1"_s, u"dbpraefix"_s), u"orvanta.wexl"_s);
    QCOMPARE(stored(u"1"_s, u"liprart"_s), u"B"_s);
}

void tst_FMParam::failedSaveKeepsWindowAndValues()
{
    open();
    field(u"txtdbpraefix"_s)->setText(u"orvanta.anders"_s);
    // The tenant changed under the window to one whose parameters do not exist.
    cacheapi::Firma = u"99"_s;
    click(u"BUSpeich"_s);

    QCOMPARE(m_fx->boxes().count(), 1);
    QCOMPARE(m_fx->boxes().last().title, u"Caché Zugriffsfehler"_s);
    QVERIFY(m_fx->boxes().last().text.startsWith(u"Vorgang: FMParam.BUSpeich_Click.\r\n\r\nFehler: 2006\r\n"_s));
    QVERIFY(m_window->isVisible());
    QCOMPARE(field(u"txtdbpraefix"_s)->text(), u"orvanta.anders"_s);
    QCOMPARE(cacheapi::BusyDepth, 0);
    QCOMPARE(stored(u"1"_s, u"dbpraefix"_s), u"orvanta.wexl"_s);
}

void tst_FMParam::failedLoadDisablesSave()
{
    // Nothing was read, so "Speichern" must not write the empty fields over stored parameters.
    cacheapi::Firma = u"99"_s;
    open();
    QCOMPARE(m_fx->boxes().count(), 1);
    QVERIFY(m_fx->boxes().last().text.startsWith(u"Vorgang: FMParam.Form_Load"_s));
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->findChild<QPushButton *>(u"BUSpeich"_s)->isEnabled());
    QCOMPARE(cacheapi::BusyDepth, 0);

    cacheapi::Unload(m_window);
    cacheapi::Firma = u"1"_s;
    open();
    QVERIFY(m_window->findChild<QPushButton *>(u"BUSpeich"_s)->isEnabled());
    QCOMPARE(field(u"txtdbpraefix"_s)->text(), u"orvanta.wexl"_s);
    cacheapi::Unload(m_window);
}

QTEST_MAIN(tst_FMParam)
#include "tst_fmparam.moc"
