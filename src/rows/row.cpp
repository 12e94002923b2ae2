#include "rows/row.h"

namespace tarnu {

ColumnList columns_of(std::initializer_list<ColumnSet> sets) {
    ColumnList list;
    for (const ColumnSpec& spec : kColumns) {
        for (ColumnSet set : sets) {
            if (spec.set == set) list.columns[list.size++] = spec.column;
        }
    }
    return list;
}

}  // namespace tarnu
