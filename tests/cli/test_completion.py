"""The bash completion offers what the command takes (packaging/tessaly-config-cli.bash-completion)."""

import os
import re
import subprocess
import unittest

ROOT = os.environ.get("TESSALY_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "packaging", "tessaly-config-cli.bash-completion")
COMMAND = os.environ.get("TESSALY_CLI", os.path.join(ROOT, "build", "bin", "tessaly-config-cli"))


def complete(*words):
    """What bash offers for the last word of the command line."""
    line = " ".join("'%s'" % word for word in ("tessaly-config-cli",) + words)
    script = ('source "$0"; COMP_WORDS=(%s); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _tessaly_config_cli; '
              'printf "%%s\\n" "${COMPREPLY[@]}"' % line)
    done = subprocess.run(["bash", "-c", script, SCRIPT], stdout=subprocess.PIPE, text=True, check=True)
    return sorted(filter(None, done.stdout.split("\n")))


class Completion(unittest.TestCase):
    def test_commands(self):
        self.assertEqual(complete(""), ["--help", "--version", "apply", "list"])

    def test_options_of_each_command(self):
        self.assertEqual(complete("apply", "--set-z"), ["--set-zone"])
        self.assertEqual(complete("apply", "--e"), ["--expect"])
        self.assertEqual(complete("list", "--set"), [])
        self.assertEqual(complete("list", "--t"), ["--timeout"])

    # Every option the command's help names is offered somewhere.
    def test_every_option_of_the_help(self):
        usage = subprocess.run([COMMAND, "--help"], stdout=subprocess.PIPE, text=True, check=True).stdout
        options = set(re.findall(r"--[a-z][a-z-]*", usage))
        offered = set(complete("")) | set(complete("list", "--")) | set(complete("apply", "--"))
        self.assertGreater(len(options), 15)
        self.assertEqual(options - offered, set())

    def test_values(self):
        self.assertIn("Europe/Berlin", complete("apply", "--set-zone", "Europe/Ber"))
        self.assertEqual(complete("apply", "--dhcp", ""), ["on"])
        self.assertEqual(complete("apply", "--set-port", ""), [])


if __name__ == "__main__":
    unittest.main()
