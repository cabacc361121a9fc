#!/usr/bin/env python3
"""Writes the manual page of quorvane: the commands and options as the
command's own --help gives them, inside the hand-written sections of the
template (@COMMANDS@ marks their place), so the page cannot drift from the
help. Usage: make-man.py QUORVANE TEMPLATE OUT"""
import os
import re
import subprocess
import sys


def help_of(binary, words):
    out = subprocess.run([binary, *words, "--help"], capture_output=True, text=True, check=True,
                         env=dict(os.environ, COLUMNS="200")).stdout
    sections, current = {}, None
    lines = out.splitlines()
    summary = lines[0].strip() if lines else ""
    usage = next((l.split(" ", 2)[-1] for l in lines if l.startswith("Usage:")), "")
    for line in lines:
        if re.match(r"^[A-Z][a-z]+:$", line):
            current = line[:-1]
            sections[current] = []
        elif current and line.strip():
            # An entry is indented by two spaces, its continued text by more.
            if not line.startswith("   ") or not sections[current]:
                sections[current].append([line.strip()])
            else:
                sections[current][-1].append(line.strip())
    return summary, usage, sections


def split_entry(parts):
    """['--out,-o TEXT REQUIRED   The file'] -> ('--out,-o TEXT REQUIRED', 'The file')."""
    m = re.match(r"(.*?\S)\s{2,}(.*)$", parts[0])
    head, rest = (m.group(1), m.group(2)) if m else (parts[0], "")
    return head, " ".join([rest] + parts[1:]).strip()


def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text.startswith((".", "'")) else text


def command_pages(binary, words, out):
    summary, usage, sections = help_of(binary, words)
    subs = [split_entry(e)[0] for e in sections.get("Subcommands", [])]
    if words and (not subs or sections.get("Positionals") or len(sections.get("Options", [])) > 1):
        out.append(".SS " + roff("quorvane " + " ".join(words)))
        out.append(roff(summary))
        out.append(".PP\n.B " + roff("quorvane " + usage))
        for section in ("Positionals", "Options"):
            for entry in sections.get(section, []):
                head, text = split_entry(entry)
                if head.startswith("-h,--help"):
                    continue
                out.append(".TP\n.B " + roff(head) + "\n" + roff(text))
    for sub in subs:
        command_pages(binary, words + [sub], out)


def main():
    binary, template, target = sys.argv[1:4]
    summary, usage, sections = help_of(binary, [])
    out = [".SS Options of every command"]
    for entry in sections.get("Options", []):
        head, text = split_entry(entry)
        out.append(".TP\n.B " + roff(head) + "\n" + roff(text))
    command_pages(binary, [], out)
    page = open(template, encoding="utf-8").read().replace("@COMMANDS@", "\n".join(out))
    version = subprocess.run([binary, "--version"], capture_output=True, text=True).stdout.split("\n")[0]
    page = page.replace("@VERSION@", version.split(" ")[-1])
    tmp = target + ".part"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(page)
    os.replace(tmp, target)


if __name__ == "__main__":
    main()
