#pragma once

#include <QList>
#include <QStringList>

namespace tarnel {

// Header texts (row 0) and column widths in pixels of the tool's three grids.
struct GridLayout {
    QStringList headers;
    QList<int> widths;
};

// The M-Bus meter grid: one row a meter found on the bus.
inline const GridLayout& loopsGridLayout() {
    static const GridLayout layout{
        {" ID ", "Addr ", "Mfr ", "Value ", "Unit ", "Medium ", "Status ", "Time "},
        {64, 58, 49, 70, 46, 79, 71, 64}};
    return layout;
}

// The gateway's table of activated devices: one row an entry.
inline const GridLayout& devicesGridLayout() {
    static const GridLayout layout{{" ID ", "Addr ", "Mfr ", "Medium ", "Unit ", "MValue ",
                                    "T1 Value ", "T2 Value ", "T3 Value ", "T4 Value ", "Status ",
                                    "Main VIF ", "Aux VIFs ", "Tarriff Start1/2/3/4-End1/2/3/4 "},
                                   {64, 44, 49, 62, 46, 69, 68, 63, 60, 57, 190, 64, 132, 192}};
    return layout;
}

// The register view: one row a register read from the gateway.
inline const GridLayout& registersGridLayout() {
    static const GridLayout layout{
        {"Addr. modbus", "High ", "Notes/Decode ", "Low ", "Notes/Decode ", "Time "},
        {72, 77, 141, 74, 147, 64}};
    return layout;
}

}  // namespace tarnel
