"""The layer check: what it lets through and what it refuses, on a small table of its own."""

import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))
import check_layers  # noqa: E402

ARCHITECTURE = """
## Who may include whom
| folder | may include |
|---|---|
| `platform/` | nothing |
| `platform/posix/` | `platform/*` |
| `net/io/` | `platform/*` |
| `update/` | `net/io/`, `platform/*` |
## Next section
| `tests/` | `update/` |
"""


class CheckLayersTest(unittest.TestCase):
    def setUp(self):
        self.rules = check_layers.read_rules(ARCHITECTURE)

    def test_reads_only_the_include_table(self):
        self.assertEqual(set(self.rules), {"platform/", "platform/posix/", "net/io/", "update/"})

    def test_includes_against_the_table(self):
        cases = [
            ("update/a.cpp", '#include "net/io/byte_stream.h"', True),
            ("update/a.cpp", '#include "update/b.h"', True),
            ("update/a.cpp", '#include "platform/win32.h"', True),
            ("update/a.cpp", "#include <string>", True),
            ("update/a.cpp", '#include "platform/posix/kernel/x.h"', False),  # a back end
            ("net/io/a.cpp", '#include "update/b.h"', False),  # upwards
            ("platform/posix/kernel/x.cpp", '#include "platform/posix/desktop/y.h"', True),
            ("platform/posix/x.cpp", '#include "net/io/a.h"', False),
            ("tests/a.cpp", '#include "platform/posix/x.h"', True),  # no row: anything
        ]
        for path, line, allowed in cases:
            with self.subTest(path=path, line=line):
                found = check_layers.problems_in(path, line, self.rules)
                self.assertEqual(found == [], allowed, found)

    def test_windows_tests_only_inside_platform(self):
        text = "#ifdef _WIN32\n#endif\n#if defined(_WIN32) && 1\n#endif\n"
        self.assertEqual(len(check_layers.problems_in("update/a.cpp", text, self.rules)), 2)
        self.assertEqual(check_layers.problems_in("platform/winsock.h", text, self.rules), [])


if __name__ == "__main__":
    unittest.main()
