#pragma once
// Customer search "Suche nach Kunden": short name, post code and customer group.

#include "search/searchwindow.h"

class FMKnrsu final : public SearchWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FMKnrsu)
public:
    explicit FMKnrsu(QWidget *parent = nullptr);
};
