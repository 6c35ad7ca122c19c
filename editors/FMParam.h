#pragma once
// The tenant's interface parameters: one orvanta.param object per tenant.

#include "session/forms.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

class FMParam final : public QDialog, public cacheapi::Unloadable
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMParam)
public:
    // Shown while a tenant has no gateway defined yet; plain text for the user to edit.
    static QString gatewayTemplate();

    explicit FMParam(QWidget *parent = nullptr); // loads at once, as the window opens
    ~FMParam() override;

    void Form_Load();
    void Form_Unload() override;
    void BUSpeich_Click();
    void BUClose_Click();

    // The list-price code of the selected entry, "" with none selected.
    QString selectedListPriceCode() const;

private:
    QLineEdit *addField(const QString &name, const QString &label, int row, int width);
    void loadFailed();

    QLineEdit *m_txtdbgateway = nullptr;
    QLineEdit *m_txtdbbmecat = nullptr;
    QLineEdit *m_txtdbqtport = nullptr;
    QLineEdit *m_txtfileexport = nullptr;
    QLineEdit *m_txtfileimport = nullptr;
    QComboBox *m_liprart = nullptr;
    QLineEdit *m_txtdbpraefix = nullptr;
    QPushButton *m_BUSpeich = nullptr;
    QPushButton *m_BUClose = nullptr;
};
