#pragma once
// Product-group records as the server lists them, and the values the product-group
// window derives from them (tree item texts, keys, stored group numbers).

#include <QString>

namespace editors::choice {

struct ProductGroupRow
{
    double main = 0;    // main-group number
    double sub = 0;     // subgroup number, 0 on a main group
    QString description;
    bool selected = false;
    bool override = false; // shown unticked and (main groups) expanded, whatever "selected" says

    bool isMainGroup() const { return sub == 0; }
    bool ticked() const { return selected && !override; }
    bool expanded() const { return isMainGroup() && override; }
    QString ownNumber() const; // main number on a main group, subgroup number on a subgroup
    QString key() const;       // "5|0", "5|3"
};

// One "|"-separated record: main, sub, description, selected flag, override flag.
ProductGroupRow parseProductGroupRecord(const QString &record);

// Numbers as plain decimals, leading zeros dropped: 5, 12, 0.5.
QString plainNumber(double value);

// A number formatted with at least two digits: 5 -> "05", 12 -> "12", 100 -> "100".
QString twoDigits(const QString &number);

// The stored group number of a key: main and subgroup with two digits each ("5|3" -> "0503").
QString numwarengruppe(const QString &key);

// Main-group part and subgroup part of a key.
QString keyMainGroup(const QString &key);
QString keySubGroup(const QString &key);

} // namespace editors::choice
