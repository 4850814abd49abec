"""Reads every row of a query through pyodbc, the way an application would:
fetchmany in blocks, touching every value. Prints "rows checksum seconds".

    read_pyodbc.py CONNECTION_STRING SQL
"""
import sys
import time

import pyodbc


def main() -> int:
    conn_str, sql = sys.argv[1], sys.argv[2]
    start = time.monotonic()
    conn = pyodbc.connect(conn_str, autocommit=True)
    cur = conn.cursor()
    cur.execute(sql)
    rows = 0
    checksum = 0.0
    while True:
        block = cur.fetchmany(1000)
        if not block:
            break
        for i, b, d, v, ts in block:
            checksum += i + (b & 0xFF) + d + len(v) + ts.second
            rows += 1
    cur.close()
    conn.close()
    print(f"{rows} {checksum:.3f} {time.monotonic() - start:.6f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
