#!/usr/bin/env python3
"""Every command line of the README, the pages of docs/, the manual pages and kelto --help runs as
shown with status 0 (the README's and the pages' from the source tree after the README's build
command, the others against an installation in a scratch prefix; drawing needs GDL, Python the
module), the recipes for reading the CSV tables read every planning table kelto writes, the pip
installation builds the module into a fresh virtual environment from a copy of the source, every
link of the README and the pages leads to a page and anchor that exist, and both manual pages carry
the version and date of kelto --version. --skip-pip leaves the pip installations out, --only-pip
runs them alone."""
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
COMMAND = re.compile(r"^(\./build/kelto|\./plot/kelto-plot|kelto|kelto-plot|mkdir|PYTHONPATH=|examples/|/usr/bin/python3 |python3 )")
# Every planning table, for the recipes that read one (FILE in the README and the pages).
TABLES = """
mkdir -p tables && cd tables
{kelto} --structure diamond --lattice 5.431 --symbol Si --primary 0,0,2 --wavelength 1.5406 --band 0.02 -q \\
    --events events.csv --clean 5 --windows windows.csv >/dev/null
{kelto} --crystal Si --primary 1,1,1 --glitches glitches.csv --at-psi 10 --energies 5,12 >/dev/null
{kelto} --crystal Si --primary 2,2,0 --spectrum spectrum.csv --at-psi 15 --energies 6,7 --harmonics 2 >/dev/null
{kelto} --crystal GaAs --primary 0,0,2 --glitch-map map.csv --energies 8,9 --psi 0,45 >/dev/null
{kelto} --crystal Si --primary 1,1,1 --clean-energies 8,8.1 --windows energy_windows.csv >/dev/null
{kelto} --crystal Si --primary 2,2,0 --fit-glitches ../examples/si220_i0_scan.dat --scan-unit eV --energies 6,14 \\
    --divergence 0.0012,0.0006 --at-psi 15 --fit-table fit.csv >/dev/null
{kelto} --crystal Si --primary 1,1,1 --fit-glitches ../examples/si111_readback_scan.dat --scan-unit eV --energies 5,20 \\
    --at-psi 20 --calibrate --calibration calibration.csv >/dev/null
"""
# A recipe for a table as the README and the pages give it, FILE the table's name.
TABLE_RECIPE = re.compile(r"^(numpy|pandas)\.\w+\(FILE\b")
# Run with the recipe as `table` on each table named (one interpreter for them all: each start
# imports the library anew): each must hold the header's columns, every row, and the first row's
# values as printed (numbers as numbers, words as words). Prints one line a table, its name and
# "ok" or what went wrong.
TABLE_CHECK = """
import sys
try:
    import {library}
except ImportError:
    sys.exit(77)

def check(FILE):
    table = {recipe}
    with open(FILE) as f:
        lines = f.read().splitlines()
    header, first = lines[1].split(","), lines[2].split(",")
    if hasattr(table, "iloc"):
        names, values = list(table.columns), list(table.iloc[0])
    else:
        names, values = list(table.dtype.names), list(table[0].tolist())
    assert names == header, f"columns {{names}}, not {{header}}"
    assert len(table) == len(lines) - 2, f"{{len(table)}} rows, not {{len(lines) - 2}}"
    for name, value, printed in zip(names, values, first):
        try:
            number = float(printed)
        except ValueError:
            assert value == printed, f"{{name}} read as {{value!r}}, printed {{printed}}"
        else:
            assert float(value) == number, f"{{name}} read as {{value!r}}, printed {{printed}}"

for path in sys.argv[1:]:
    try:
        check(path)
        print(path, "ok", sep="\\t")
    except Exception as error:  # its first words say what went wrong
        print(path, f"{{type(error).__name__}}: {{' '.join(str(error).split()[:12])}}", sep="\\t")
"""
# What a copy of the source leaves out at its top: the repository, build trees, scratch output.
NOT_SOURCE = re.compile(r"^(\.git|build.*|out|out-san|run|.*\.egg-info)$")


def page_commands(text):
    """A page's shell blocks (indented by four spaces or more, after a blank line, starting with a
    command; a block inside a list item is indented further), its inline commands that run from the
    source tree, its Python blocks and its recipes for reading a table."""
    blocks, block, indent, previous = [], [], 0, ""
    for line in text.split("\n") + [""]:
        depth = len(line) - len(line.lstrip(" "))
        if block and line.strip() and depth >= indent:
            block.append(line[indent:])
        elif not block and depth >= 4 and previous.strip() == "" and COMMAND.match(line[depth:]):
            block, indent = [line[depth:]], depth
        else:
            if block:
                blocks.append(("sh", "\n".join(block)))
            block = []
        previous = line
    prose = re.sub(r"```.*?```", "", text, flags=re.S)  # inline spans, read outside the fenced blocks
    for span in re.findall(r"`([^`]+)`", prose):
        if span.startswith(("./build/kelto ", "./plot/kelto-plot", "examples/silicon_options.sh", "man -l build/")):
            blocks.append(("sh", span))
    for code in re.findall(r"```python\n(.*?)```", text, re.S):
        blocks.append(("python", code))
    for span in re.findall(r"`([^`]+)`", prose):
        if TABLE_RECIPE.match(span):
            blocks.append(("table", span))
    return blocks


# The page of the pictures kelto-plot draws.
PICTURES = os.path.join("docs", "pictures.md")


def documented_pages(source):
    """The README and the pages of docs/, as paths from the top of the source tree: the README first."""
    return ["README.md"] + sorted(os.path.join("docs", name) for name in os.listdir(os.path.join(source, "docs"))
                                  if name.endswith(".md"))


def read(source, page):
    with open(os.path.join(source, page), encoding="utf-8") as f:
        return f.read()


def anchors(text):
    """The anchors of a page's headings as GitHub makes them (lower case, punctuation left out, blanks
    as hyphens, a second heading of the same words with -1), and those of <a id=...>."""
    found, seen, fenced = set(), {}, False
    for line in text.split("\n"):
        if line.startswith("```"):
            fenced = not fenced
        heading = re.match(r"#{1,6} (.*)", line)
        if heading and not fenced:
            slug = re.sub(r"[^\w\- ]", "", heading.group(1).strip().lower()).replace(" ", "-")
            found.add(slug if slug not in seen else f"{slug}-{seen[slug]}")
            seen[slug] = seen.get(slug, 0) + 1
    return found | set(re.findall(r'<a (?:id|name)="([^"]+)"', text))


def check_links(source, page, results):
    """Every relative link of a page (outside code) leads to a file of the source tree, and every
    anchor to a heading of its page."""
    text = re.sub(r"`[^`]*`", "", re.sub(r"```.*?```", "", read(source, page), flags=re.S))
    targets = re.findall(r"\]\(([^)\s]+)\)", text)
    broken = []
    for target in targets:
        if re.match(r"[a-z]+:", target):
            continue  # a web address
        path, _, anchor = target.partition("#")
        linked = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if linked.startswith("..") or not os.path.exists(os.path.join(source, linked)):
            broken.append(f"{target} (no {linked})")
        elif anchor and (not linked.endswith(".md") or anchor not in anchors(read(source, linked))):
            broken.append(f"{target} (no heading #{anchor} in {linked})")
    results.append((page, f"{len(targets)} links", "ok" if not broken else "broken links: " + ", ".join(broken)))


def unescaped(roff):
    return re.sub(r"\\e|\\\\", "\\\\", roff).replace("\\-", "-")


def manual_commands(text):
    """The command blocks of a manual page's EXAMPLES section, roff escapes undone."""
    section = text.split(".SH EXAMPLES", 1)[1].split(".SH ", 1)[0]
    blocks = []
    for nofill in re.findall(r"\.nf\n(.*?)\.fi", section, re.S):
        blocks.append(("sh", nofill))
    for bold in re.findall(r"^\.B (kelto.*)$", section, re.M):
        blocks.append(("sh", bold))
    return [(kind, unescaped(block)) for kind, block in blocks]


def manual_recipes_elsewhere(text):
    """The command blocks of a manual page outside EXAMPLES (the pip installation of PYTHON, which
    runs from a source tree): each must be one of the README's or the pages', which are run."""
    elsewhere = text.split(".SH EXAMPLES", 1)[0] + "\n".join(text.split(".SH EXAMPLES", 1)[1].split(".SH ")[1:])
    return [unescaped(block) for block in re.findall(r"\.nf\n(.*?)\.fi", elsewhere, re.S)
            if COMMAND.match(unescaped(block))]


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


def outcome(done):
    return "ok" if done.returncode == 0 else f"status {done.returncode}: {(done.stderr or done.stdout)[-400:]}"


def run_table_recipe(recipe, folder, environment, label, results):
    """A recipe that reads a planning table, on every table kelto writes."""
    library = recipe.split(".")[0]
    check = TABLE_CHECK.format(library=library, recipe=recipe)
    tables = os.path.join(folder, "tables")
    names = sorted(n for n in os.listdir(tables) if n.endswith(".csv"))
    done = subprocess.run([sys.executable, "-c", check, *(os.path.join(tables, name) for name in names)],
                          env=environment, capture_output=True, text=True)
    if done.returncode == 77:  # pandas is optional; NumPy comes with the build's dependencies
        results.append((label, recipe, f"skipped: {library} is not installed" if library == "pandas" else
                        f"{library} is not installed for {sys.executable}"))
        return
    said = dict(line.split("\t", 1) for line in done.stdout.splitlines() if "\t" in line)
    for name in names:
        verdict = said.get(os.path.join(tables, name), outcome(done) if done.returncode else "not checked")
        results.append((label, f"{recipe} on {name}", verdict))


def source_copy(scratch):
    """A copy of the source tree without its build folders, once: pip builds in the tree it is given."""
    copy = os.path.join(scratch, "source")
    if not os.path.isdir(copy):
        top = os.path.abspath(ARGS.source)
        shutil.copytree(top, copy, symlinks=True, ignore=lambda folder, names: [
            n for n in names if n == "__pycache__" or (os.path.abspath(folder) == top and NOT_SOURCE.match(n))])
    return copy


def check_pip_installation(folder, environment, label, results):
    """Each virtual environment a pip block made holds the module with the table and crystals installed
    beside it (not those of the source tree it was built from)."""
    for name in sorted(os.listdir(folder)):
        python = os.path.join(folder, name, "bin", "python3")
        if not os.path.isfile(os.path.join(folder, name, "pyvenv.cfg")):
            continue
        done = subprocess.run([python, "-c", "import kelto; print(kelto.data_folder()); print(kelto.Crystal.shipped('GaAs').name)"],
                              cwd="/", env=environment, capture_output=True, text=True)
        expected = [os.path.realpath(os.path.join(folder, name, "share", "kelto")), "GaAs"]
        found = [os.path.realpath(done.stdout.split()[0]), *done.stdout.split()[1:]] if done.returncode == 0 else []
        results.append((label, f"{name}: the module's data", outcome(done) if done.returncode else
                        "ok" if found == expected else f"found {found}, not {expected}"))


def run_blocks(blocks, folder, environment, label, results, scratch=None, done_before=None):
    """Runs each block and appends its outcomes. A block that done_before (a dict, shared by the
    pages that run in one folder) names was run for an earlier page: it is not run again, and takes
    that run's outcome."""
    for kind, block in blocks:
        key = (kind, block.strip())
        if done_before is not None and key in done_before:
            page, passed = done_before[key]
            results.append((label, block, f"ok (run for {page})" if passed else f"failed for {page}"))
            continue
        first = len(results)
        run_block(kind, block, folder, environment, label, results, scratch)
        if done_before is not None:
            done_before[key] = (label, all(passes(r[2]) for r in results[first:]))


def run_block(kind, block, folder, environment, label, results, scratch):
    """One block of a page (a shell block, a Python block or a recipe for a table); a block
    that needs what this machine lacks (GDL, the module, man) is reported as skipped."""
    if "kelto-plot" in block and shutil.which("gdl") is None:
        results.append((label, block, "skipped: no GDL"))
        return
    if (kind == "python" or "build/python" in block or "import kelto" in block) and \
            not os.path.isdir(os.path.join(ARGS.build, "python")):
        results.append((label, block, "skipped: no Python module"))
        return
    if kind == "table":
        run_table_recipe(block, folder, environment, label, results)
        return
    if "import pandas" in block and subprocess.run(["python3", "-c", "import pandas"], env=environment,
                                                   capture_output=True).returncode != 0:
        results.append((label, block, "skipped: python3 has no pandas (Debian: python3-pandas)"))
        return
    if block.startswith("man ") and shutil.which("man") is None:
        results.append((label, block, "skipped: no man (Debian: man-db)"))
        return
    where, env = folder, environment
    if "pip install" in block and ARGS.skip_pip:
        results.append((label, block, "skipped: --skip-pip (the test documented_pip runs it)"))
        return
    if "pip install" in block:
        # A fresh virtual environment with pip, from a copy of the source tree; no index is
        # reached, as on a machine without one.
        if subprocess.run(["/usr/bin/python3", "-c", "import venv, ensurepip"], capture_output=True).returncode != 0:
            results.append((label, block, "skipped: /usr/bin/python3 has no venv with pip (Debian: python3-venv)"))
            return
        where = source_copy(scratch)
        env = dict(environment, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
    command = ["bash", "-ec", block] if kind == "sh" else [sys.executable, "-c", block]
    if kind == "python":  # where the pages say the module is found from the build tree
        env = dict(environment, PYTHONPATH=os.path.join(folder, "build", "python"))
    done = subprocess.run(command, cwd=where, env=env, capture_output=True, text=True)
    results.append((label, block, outcome(done)))
    if "pip install" in block and done.returncode == 0:
        check_pip_installation(where, env, label, results)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", default="cmake")
    # The pip installations build a module of their own and take most of the time: the quick run
    # leaves them out (and a sanitised build, whose module could not load), the pip run does them alone.
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--skip-pip", action="store_true")
    which.add_argument("--only-pip", action="store_true")
    # The recipes of the README run with the quick tests; the pages of docs/, the manual pages' and
    # the pictures' page (whose recipes draw with GDL for seconds each) run as tests of their own,
    # with the slow tests.
    parser.add_argument("--part", choices=("readme", "pages", "pictures", "manuals", "all"), default="all")
    ARGS = parser.parse_args()
    source, build = os.path.abspath(ARGS.source), os.path.abspath(ARGS.build)
    results = []
    base = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH",)}
    base["PATH"] = "/usr/bin:/bin"
    with tempfile.TemporaryDirectory() as scratch:
        # The README and the pages, from a copy of the source tree's layout.
        tree = os.path.join(scratch, "tree")
        os.mkdir(tree)
        # The build folder may have any name: the tree's build/ leads to it, and the examples are
        # copied (not linked) so that a script finds build/ beside them as in the source tree.
        for name in ("plot", "data"):
            os.symlink(os.path.join(source, name), os.path.join(tree, name))
        shutil.copytree(os.path.join(source, "examples"), os.path.join(tree, "examples"))
        os.symlink(build, os.path.join(tree, "build"))
        pages = {page: page_commands(read(source, page)) for page in documented_pages(source)}
        page_blocks = {(kind, block.strip()) for blocks in pages.values() for kind, block in blocks}
        if ARGS.part in ("readme", "pages", "pictures"):
            part = {page: "readme" if page == "README.md" else "pictures" if page == PICTURES else "pages" for page in pages}
            pages = {page: blocks for page, blocks in pages.items() if part[page] == ARGS.part}
        if ARGS.only_pip:
            pages = {page: [(kind, block) for kind, block in blocks if "pip install" in block]
                     for page, blocks in pages.items()}
        if ARGS.part != "manuals":
            subprocess.run(["bash", "-ec", PRECONDITIONS.format(kelto="./build/kelto")], cwd=tree, env=base, check=True)
            subprocess.run(["bash", "-ec", TABLES.format(kelto="../build/kelto")], cwd=tree, env=base, check=True)
            done_before = {}
            for page, blocks in pages.items():
                run_blocks(blocks, tree, base, page, results, scratch, done_before)
        if ARGS.part == "pictures":
            return report(results, least=1)
        if ARGS.part != "manuals" and not ARGS.only_pip:
            for page in pages:
                check_links(source, page, results)
            for page in ("man/kelto.1.in", "man/kelto-plot.1.in"):
                named = sorted(set(re.findall(r"docs/[\w.-]+\.md", read(source, page))))
                missing = [name for name in named if not os.path.isfile(os.path.join(source, name))]
                results.append((page, f"the pages it names: {', '.join(named) or 'none'}",
                                "ok" if not missing else f"no such page: {', '.join(missing)}"))
        if ARGS.only_pip:
            return report(results, least=1)
        if ARGS.part in ("readme", "pages"):
            return report(results, least=10)

        # The manual pages and --help, against an installation.
        prefix = os.path.join(scratch, "prefix")
        subprocess.run([ARGS.cmake, "--install", build, "--prefix", prefix], check=True, capture_output=True)
        # The installed module, where Debian's python3 finds that of /usr/local.
        site = os.path.join(prefix, "lib", f"python{sys.version_info[0]}.{sys.version_info[1]}", "dist-packages")
        installed = dict(base, PATH=os.path.join(prefix, "bin") + ":/usr/bin:/bin", PYTHONPATH=site)
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
            for block in manual_recipes_elsewhere(text):
                results.append((page, block, "ok" if ("sh", block.strip()) in page_blocks else
                                "not one of the README's or the pages' commands, so never run"))
            # The pages it names, where the installation puts them.
            for name in sorted(set(re.findall(r"docs/[\w.-]+\.md", text))):
                where = os.path.join(prefix, "share", "doc", "kelto", name)
                results.append((page, f"installed {name}", "ok" if os.path.isfile(where) else f"not installed: no {where}"))
        helped = subprocess.run(["kelto", "--help"], env=installed, capture_output=True, text=True).stdout
        folder = tempfile.mkdtemp(dir=scratch)
        run_blocks(help_commands(helped), folder, installed, "--help", results)
    return report(results, least=10)


def passes(outcome):
    return outcome == "ok" or outcome.startswith(("ok (", "skipped"))


def report(results, least):
    """Every command's outcome; status 1 when one failed, or when fewer than `least` ran."""
    failed = [r for r in results if not passes(r[2])]
    for label, block, outcome in results:
        print(f"{label}: {outcome}: {block.strip().splitlines()[0]}")
    if sum(1 for r in results if r[2] == "ok") < least:
        print(f"fewer than {least} documented commands ran: the extraction has gone wrong")
        return 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
