#!/usr/bin/env python3
"""Prints an .xlsx as JSON for the workbook tests: every cell with its type,
value and number format, the column dimensions, and the sheet's size.

usage: dump_xlsx.py FILE.xlsx
"""
import json
import sys

import openpyxl


def main():
    wb = openpyxl.load_workbook(sys.argv[1])
    ws = wb.active
    rows = []
    for row in ws.iter_rows():
        cells = []
        for cell in row:
            if cell.value is None:
                cells.append(None)
            else:
                kind = "n" if isinstance(cell.value, (int, float)) else "s"
                cells.append([kind, cell.value, cell.number_format])
        rows.append(cells)
    widths = [[d.min, d.max, d.width] for _, d in sorted(ws.column_dimensions.items(), key=lambda kv: kv[1].min or 0)]
    json.dump({"sheets": len(wb.worksheets), "max_row": ws.max_row, "max_column": ws.max_column,
               "rows": rows, "widths": widths}, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
