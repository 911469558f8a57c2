#pragma once

class QTableWidget;

namespace VLK {

// Fits a column to its contents as the toolkit's own fit would if it measured
// every row, where that fit measures a sample of a thousand rows: a long
// list whose widest text comes late would be cut. Each distinct text is
// measured once, and a job list has few of them in these columns, so the fit
// costs a pass over the texts, not a layout of every cell. Only for columns
// whose cells differ in nothing that changes their width but their text.
void fitColumnToDistinctTexts(QTableWidget &table, int column);

} // namespace VLK
