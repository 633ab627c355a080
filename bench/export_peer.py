"""openpyxl's write-only mode writing the cells of bench/export_bench.cpp's grid.

usage: export_peer.py FILE [ROWS]
Prints "openpyxl SECONDS PEAK_KIB": the wall time of writing and saving, and the peak resident
memory of the process.
"""
import resource
import sys
import time

import openpyxl

DEPARTMENTS = ["考务处", "教务处", "财务处", "人事处", "监察室"]
HEADINGS = ["姓名", "性别", "单位", "年龄", "劳务费", "个税", "编号", "备注", "评分", "实发"]


def main(path, rows):
    start = time.monotonic()
    book = openpyxl.Workbook(write_only=True)
    sheet = book.create_sheet()
    sheet.append(HEADINGS)
    for k in range(1, rows + 1):
        fee = 20000 + (k % 997) * 25
        tax = fee // 10
        sheet.append([f"员工{k}", "男" if k % 2 else "女", DEPARTMENTS[k % 5], 20 + k % 40,
                      fee / 100, tax / 100, k, f"第{k % 500}号考场监考", k % 100,
                      (fee - tax) / 100])
    book.save(path)
    seconds = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"openpyxl {seconds:.3f} {peak}")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 100000)
