#!/usr/bin/env python3
"""uninst-sim's --help text as its man page, and as the README's block of options, so that the
three never differ.

  help-text.py UNINST-SIM --man OUT.1          writes the man page
  help-text.py UNINST-SIM --readme README.md   checks the README's block (--update rewrites it)
"""
import re
import subprocess
import sys

BEGIN = '<!-- uninst-sim --help -->'
END = '<!-- end of uninst-sim --help -->'


def help_text(sim):
    return subprocess.run([sim, '--help'], check=True, capture_output=True, text=True).stdout


def version(sim):
    return subprocess.run([sim, '--version'], check=True, capture_output=True, text=True).stdout.strip()


def roff(text):
    text = text.replace('\\', '\\e').replace('-', '\\-')
    return '\\&' + text if text.startswith(('.', "'")) else text


def options(text):
    """(flags, description) for each option line of the help, continuation lines joined."""
    found = []
    for line in text.split('\n')[text.split('\n').index('Options:') + 1:]:
        match = re.match(r'^  (\S.*?)\s{2,}(\S.*)$', line)
        if match:
            found.append([match.group(1), match.group(2)])
        elif line.strip() and found:
            found[-1][1] += ' ' + line.strip()
    return found


def man_page(sim):
    text = help_text(sim)
    description = text.split('\nUsage:')[0].split('\n')
    page = ['.TH UNINST\\-SIM 1 "" "%s" "User Commands"' % roff(version(sim)),
            '.SH NAME', 'uninst\\-sim \\- ' + roff(description[0][0].lower() + description[0][1:].rstrip('.')),
            '.SH SYNOPSIS', '.B uninst\\-sim', '[\\fIOPTIONS\\fR]', '.SH DESCRIPTION']
    page += [roff(line) + '\n.br' for line in description]
    page.append('.SH OPTIONS')
    for flags, words in options(text):
        page += ['.TP', '.B ' + roff(flags), roff(words)]
    page += ['.SH SEE ALSO', 'The README of the sources, "Previewing a real machine".']
    return '\n'.join(page) + '\n'


def readme_block(sim):
    return BEGIN + '\n\n```\n' + help_text(sim).rstrip('\n') + '\n```\n\n' + END


def main():
    sim, mode, path = sys.argv[1:4]
    if mode == '--man':
        with open(path, 'w', encoding='utf-8') as out:
            out.write(man_page(sim))
        return 0
    with open(path, encoding='utf-8') as readme:
        text = readme.read()
    start, end = text.find(BEGIN), text.find(END)
    if start < 0 or end < start:
        print('%s: no %s ... %s block' % (path, BEGIN, END), file=sys.stderr)
        return 1
    current = text[:start] + readme_block(sim) + text[end + len(END):]
    if '--update' in sys.argv[4:]:
        with open(path, 'w', encoding='utf-8') as readme:
            readme.write(current)
        return 0
    if current != text:
        print('%s: its block of options is not what uninst-sim --help prints: run '
              'scripts/help-text.py UNINST-SIM --readme README.md --update' % path, file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
