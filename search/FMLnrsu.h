#pragma once
// Supplier search "Suche nach Lieferant": short name and collective account.

#include "search/searchwindow.h"

class FMLnrsu final : public SearchWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMLnrsu)
public:
    explicit FMLnrsu(QWidget *parent = nullptr);
};
