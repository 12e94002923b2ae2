"""`python -m tarnu`: the `tarnu` command (see tarnu.cli)."""

import sys

from tarnu.cli import main

if __name__ == "__main__":
    sys.exit(main())
