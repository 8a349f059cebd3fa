#!/usr/bin/env python3
"""Every command line of the README, the manual pages and kelto --help runs as shown with status 0
(the README's from the source tree after its build command, the others against an installation in a
scratch prefix; drawing needs GDL, Python the module), and both manual pages carry the version and
date of kelto --version."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

ARGS = None
PRECONDITIONS = """
# What the examples take as given: a run in the folder, one in run1 inside 0 to 90 degrees, and a
# glitch spectrum in spectrum.csv.
{kelto} --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5406 --band 0.02 --hmax 7 -q
mkdir -p run1
{kelto} --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5406 --band 0.02 --hmax 7 \\
    --psi 0,90 -q -o run1
{kelto} --structure diamond --lattice 5.431 --symbol Si --primary 1,1,1 --glitches spectrum.csv --at-psi 10 \\
    --energies 6,20 >/dev/null
"""
COMMAND = re.compile(r"^(\./build/kelto|\./plot/kelto-plot|kelto|kelto-plot|mkdir|PYTHONPATH=|examples/)")


def readme_commands(text):
    """The README's shell blocks (indented by four spaces, starting with a command) and its inline
    commands that run from the source tree, and its Python block."""
    blocks, block, previous = [], [], ""
    for line in text.split("\n") + [""]:
        if line.startswith("    ") and (block or (previous.strip() == "" and COMMAND.match(line[4:]))):
            block.append(line[4:])
        else:
            if block:
                blocks.append(("sh", "\n".join(block)))
            block = []
        previous = line
    for span in re.findall(r"`([^`]+)`", text):
        if span.startswith(("./build/kelto ", "./plot/kelto-plot", "examples/silicon_options.sh")):
            blocks.append(("sh", span))
    for code in re.findall(r"```python\n(.*?)```", text, re.S):
        blocks.append(("python", code))
    return blocks


def manual_commands(text):
    """The command blocks of a manual page's EXAMPLES section, roff escapes undone."""
    section = text.split(".SH EXAMPLES", 1)[1].split(".SH ", 1)[0]
    blocks = []
    for nofill in re.findall(r"\.nf\n(.*?)\.fi", section, re.S):
        blocks.append(("sh", nofill))
    for bold in re.findall(r"^\.B (kelto.*)$", section, re.M):
        blocks.append(("sh", bold))
    return [(kind, re.sub(r"\\e|\\\\", "\\\\", block).replace("\\-", "-")) for kind, block in blocks]


def help_commands(text):
    """The examples at the end of kelto --help."""
    examples = text.split("Examples", 1)[1].split("\n\n")[0].split("\n")
    commands, current = [], ""
    for line in examples:
        if not current and not COMMAND.match(line.strip()):
            continue  # the paragraph's words before the commands
        current += line.strip() + "\n"
        if not line.rstrip().endswith("\\"):
            commands.append(("sh", current))
            current = ""
    return commands


def run_blocks(blocks, folder, environment, label, results):
    for kind, block in blocks:
        if "kelto-plot" in block and shutil.which("gdl") is None:
            results.append((label, block, "skipped: no GDL"))
            continue
        if (kind == "python" or "build/python" in block) and not os.path.isdir(os.path.join(ARGS.build, "python")):
            results.append((label, block, "skipped: no Python module"))
            continue
        command = ["bash", "-ec", block] if kind == "sh" else ["/usr/bin/python3", "-c", block]
        if kind == "python":  # where the README says the module is found from the build tree
            environment = dict(environment, PYTHONPATH=os.path.join(folder, "build", "python"))
        done = subprocess.run(command, cwd=folder, env=environment, capture_output=True, text=True)
        results.append((label, block, "ok" if done.returncode == 0 else f"status {done.returncode}: {done.stderr[-400:]}"))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", default="cmake")
    ARGS = parser.parse_args()
    source, build = os.path.abspath(ARGS.source), os.path.abspath(ARGS.build)
    results = []
    base = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH",)}
    base["PATH"] = "/usr/bin:/bin"
    with tempfile.TemporaryDirectory() as scratch:
        # The README, from a copy of the source tree's layout.
        tree = os.path.join(scratch, "tree")
        os.mkdir(tree)
        # The build folder may have any name: the tree's build/ leads to it, and the examples are
        # copied (not linked) so that a script finds build/ beside them as in the source tree.
        for name in ("plot", "data"):
            os.symlink(os.path.join(source, name), os.path.join(tree, name))
        shutil.copytree(os.path.join(source, "examples"), os.path.join(tree, "examples"))
        os.symlink(build, os.path.join(tree, "build"))
        with open(os.path.join(source, "README.md")) as f:
            blocks = readme_commands(f.read())
        subprocess.run(["bash", "-ec", PRECONDITIONS.format(kelto="./build/kelto")], cwd=tree, env=base, check=True)
        run_blocks(blocks, tree, base, "README", results)

        # The manual pages and --help, against an installation.
        prefix = os.path.join(scratch, "prefix")
        subprocess.run([ARGS.cmake, "--install", build, "--prefix", prefix], check=True, capture_output=True)
        installed = dict(base, PATH=os.path.join(prefix, "bin") + ":/usr/bin:/bin")
        version = subprocess.run([os.path.join(prefix, "bin", "kelto"), "--version"], capture_output=True, text=True).stdout
        name, number, date = re.match(r"(kelto) (\S+) \((\S+)\)\n$", version).groups()
        for page in ("kelto.1", "kelto-plot.1"):
            with open(os.path.join(prefix, "share", "man", "man1", page)) as f:
                text = f.read().replace("/usr/local", prefix)
            header = text.split("\n", 1)[0]
            results.append((page, header, "ok" if f' {date} "kelto {number}" ' in header else f"not {number} of {date}"))
            folder = tempfile.mkdtemp(dir=scratch)
            subprocess.run(["bash", "-ec", PRECONDITIONS.format(kelto="kelto")], cwd=folder, env=installed, check=True)
            run_blocks(manual_commands(text), folder, installed, page, results)
        helped = subprocess.run(["kelto", "--help"], env=installed, capture_output=True, text=True).stdout
        folder = tempfile.mkdtemp(dir=scratch)
        run_blocks(help_commands(helped), folder, installed, "--help", results)

    failed = [r for r in results if r[2] not in ("ok",) and not r[2].startswith("skipped")]
    for label, block, outcome in results:
        print(f"{label}: {outcome}: {block.strip().splitlines()[0]}")
    if sum(1 for r in results if r[2] == "ok") < 10:
        print("fewer than ten documented commands found: the extraction has gone wrong")
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
