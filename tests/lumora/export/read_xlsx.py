"""Reads a workbook with openpyxl, independently of the library, and prints it as JSON.

usage: read_xlsx.py FILE
Prints {"cells": [[row, column, value, cached, horizontal, type], ...], "widths": {"A": width, ...},
"max_row": n, "max_column": n} for the first worksheet; `value` is the formula text for formula
cells and `cached` the result stored with it (the value itself for other cells); `type` is
openpyxl's data type ("s" text, "n" number, "f" formula).
"""
import json
import sys

import openpyxl


def main(path):
    sheet = openpyxl.load_workbook(path).worksheets[0]
    cached = openpyxl.load_workbook(path, data_only=True).worksheets[0]
    cells = []
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None and cell.alignment.horizontal is None:
                continue
            cells.append([cell.row, cell.column, cell.value,
                          cached.cell(cell.row, cell.column).value, cell.alignment.horizontal,
                          cell.data_type])
    widths = {letter: dim.width for letter, dim in sheet.column_dimensions.items()
              if dim.customWidth}
    json.dump({"cells": cells, "widths": widths, "max_row": sheet.max_row,
               "max_column": sheet.max_column}, sys.stdout, ensure_ascii=False, default=str)


if __name__ == "__main__":
    main(sys.argv[1])
