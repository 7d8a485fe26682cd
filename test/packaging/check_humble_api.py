#!/usr/bin/env python3
"""Checks that the node's source uses only rclcpp / rclcpp_action API kept in humble_api.txt.

The node builds here against the bundled client layer and on a robot against ROS 2 Humble. The
build here proves that the layer provides what the node uses; this check proves that the node
uses nothing beyond the kept list, whose every entry names the Humble header that declares it.
So an API that only the layer has cannot slip into the node unnoticed.

What counts as a use:
  * every #include of an rclcpp/ or rclcpp_action/ header (listed as "include HEADER");
  * every qualified name beginning with rclcpp:: or rclcpp_action:: (template arguments are
    dropped: rclcpp::Client<T>::FutureAndRequestId is rclcpp::Client::FutureAndRequestId),
    also through a `using Alias = ...;`;
  * every member accessed with `.` or `->` on a variable, parameter or member whose declared
    type is one of those (or std::shared_ptr / SharedPtr of one, or the node class, which
    derives from rclcpp::Node), and on what such a member returns as the list says (`-> type`).

Usage:
  check_humble_api.py LIST SOURCE...            fail (exit 1) on a use not in LIST, and on an
                                                entry of LIST that is no longer used
  check_humble_api.py LIST --humble-source DIR  check every entry against a Humble checkout of
                                                ros2/rclcpp (its header exists and names it)
"""

import argparse
import pathlib
import re
import sys

TOKEN = re.compile(r"->\*|->|::|\.\*|[A-Za-z_]\w*|\d[\w.']*|\S")
ROOTS = ('rclcpp', 'rclcpp_action')
KEYWORDS = {
    'return', 'case', 'new', 'delete', 'throw', 'else', 'do', 'goto', 'co_return', 'co_await',
    'sizeof', 'typeid', 'not', 'and', 'or', 'if', 'while', 'for', 'switch', 'catch',
}
DECLARATION_END = {';', '=', ',', ')', '{', ':', '('}
NOT_AN_RCLCPP_TYPE = '(message)'


class Entry:
    def __init__(self, name, returns, header, reason, implicit, line):
        self.name, self.returns, self.header = name, returns, header
        self.reason, self.implicit, self.line = reason, implicit, line


def read_list(path):
    """Entries by identifier. Line form: IDENTIFIER [-> TYPE] | HEADER | REASON [| implicit]."""
    entries = {}
    for number, raw in enumerate(pathlib.Path(path).read_text().splitlines(), 1):
        text = raw.strip()
        if not text or text.startswith('#'):
            continue
        fields = [field.strip() for field in text.split('|')]
        if len(fields) not in (3, 4) or not all(fields[:3]):
            raise SystemExit(f'{path}:{number}: expected "identifier | header | reason": {raw}')
        name, _, returns = fields[0].partition('->')
        name, returns = name.strip(), returns.strip() or None
        implicit = len(fields) == 4 and fields[3] == 'implicit'
        entries[name] = Entry(name, returns, fields[1], fields[2], implicit, number)
    return entries


def strip_comments_and_literals(text):
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'', re.S)
    return pattern.sub(lambda m: '""' if m.group(0)[0] in '"\'' else ' ', text)


class Source:
    """One file reduced to tokens, with the rclcpp names, aliases and typed variables in it."""

    def __init__(self, path, entries, node_class):
        self.path = path
        raw = pathlib.Path(path).read_text()
        self.includes = re.findall(r'#\s*include\s*[<"]((?:rclcpp|rclcpp_action)/[^>"]+)[>"]', raw)
        code = re.sub(r'^\s*#.*$', ' ', strip_comments_and_literals(raw), flags=re.M)
        self.tokens = TOKEN.findall(code)
        self.entries = entries
        self.node_class = node_class
        self.aliases = {}
        self.declarations = {}  # name -> [(token index, rclcpp type or None)]
        self.shared = {}  # declarations of the other files (the class members in the header)
        self.uses = set()
        self.errors = []

    # -- names ---------------------------------------------------------------------------------

    def skip_template_arguments(self, i):
        """Index after the `<...>` that starts at i (which holds '<'), or i if it is no list."""
        depth = 0
        for j in range(i, len(self.tokens)):
            token = self.tokens[j]
            if token == '<':
                depth += 1
            elif token == '>':
                depth -= 1
                if depth == 0:
                    return j + 1
            elif token in (';', '{', '}'):
                return i
        return i

    def qualified_name(self, i):
        """(name without template arguments, index after it) for the name starting at i."""
        parts = [self.tokens[i]]
        j = i + 1
        while j < len(self.tokens):
            if self.tokens[j] == '<':
                after = self.skip_template_arguments(j)
                if after == j:
                    break
                j = after
                continue
            if self.tokens[j] == '::' and j + 1 < len(self.tokens) and \
                    re.match(r'[A-Za-z_]', self.tokens[j + 1]):
                parts.append(self.tokens[j + 1])
                j += 2
                continue
            break
        return '::'.join(parts), j

    def resolve(self, name):
        """The rclcpp name a (possibly aliased) type name stands for, or None."""
        head, _, rest = name.partition('::')
        if head in self.aliases:
            name = self.aliases[head] + ('::' + rest if rest else '')
            head = name.split('::')[0]
        if name.split('::')[-1] == self.node_class or name == self.node_class:
            return 'rclcpp::Node'
        return name if head in ROOTS else None

    def starts_name(self, i):
        return i == 0 or self.tokens[i - 1] not in ('::', '.', '->')

    def collect_names(self):
        for i, token in enumerate(self.tokens):
            if not re.match(r'[A-Za-z_]', token) or not self.starts_name(i):
                continue
            if token == 'using' and i + 1 < len(self.tokens) and self.tokens[i + 1] == 'namespace':
                name, _ = self.qualified_name(i + 2)
                if name.split('::')[0] in ROOTS:
                    self.errors.append(f'`using namespace {name}` hides which API is used')
                continue
            if token == 'using' and i + 2 < len(self.tokens) and self.tokens[i + 2] == '=':
                target = self.type_at(i + 3)
                if target:
                    self.aliases[self.tokens[i + 1]] = target
                continue
            if token in ROOTS or token in self.aliases:
                name, _ = self.qualified_name(i)
                resolved = self.resolve(name)
                if resolved and resolved not in ROOTS:
                    self.uses.add(resolved)

    # -- types of variables --------------------------------------------------------------------

    def type_at(self, i):
        """The rclcpp class a type written at i denotes (through aliases, std::shared_ptr,
        std::unique_ptr and ::SharedPtr), or None."""
        while i < len(self.tokens) and self.tokens[i] in ('const', 'typename', 'struct'):
            i += 1
        if i >= len(self.tokens) or not re.match(r'[A-Za-z_]', self.tokens[i]):
            return None
        name, after = self.qualified_name(i)
        if name in ('std::shared_ptr', 'std::unique_ptr', 'std::weak_ptr') and \
                after > i and self.tokens[i + 3] == '<':
            return self.type_at(i + 4)
        resolved = self.resolve(name)
        if resolved and resolved.endswith(('::SharedPtr', '::ConstSharedPtr', '::UniquePtr')):
            resolved = resolved.rsplit('::', 1)[0]
        return resolved if resolved not in ROOTS else None

    def collect_variables(self):
        """Declarations `TYPE [const] [&|*] NAME` followed by ; = , ) { : or (."""
        tokens = self.tokens
        for i, token in enumerate(tokens):
            if not re.match(r'[A-Za-z_]', token) or not self.starts_name(i) or token in KEYWORDS:
                continue
            rclcpp_type = self.type_at(i)
            _, j = self.qualified_name(i)
            if token == 'auto':
                j = i + 1
            while j < len(tokens) and tokens[j] in ('const', '&', '*', '&&'):
                j += 1
            if j + 1 >= len(tokens) or not re.match(r'[A-Za-z_]\w*$', tokens[j]) or \
                    tokens[j + 1] not in DECLARATION_END or tokens[j] in KEYWORDS:
                continue
            name = tokens[j]
            if token == 'auto' and tokens[j + 1] == '=':
                rclcpp_type = self.expression_type(j + 2)
            self.declarations.setdefault(name, []).append((j, rclcpp_type))

    def expression_type(self, i):
        """Type of `std::make_*<T>(...)` or of a member chain on a typed variable, starting at i."""
        if self.tokens[i:i + 3] in (['std', '::', 'make_shared'], ['std', '::', 'make_unique']):
            return self.type_at(i + 4)
        end = i
        while end < len(self.tokens) and self.tokens[end] not in (';', ','):
            end += 1
        return self.walk_chain(i, end, record=False)

    # -- member uses ---------------------------------------------------------------------------

    def walk_chain(self, i, end, record):
        """Follows NAME(.|->)member(...)(.|->)member... from i; returns the type it ends in."""
        if not re.match(r'[A-Za-z_]', self.tokens[i]) or self.tokens[i] == 'this':
            return None
        current = self.declared_type(self.tokens[i], i)
        j = i + 1
        while current and j + 1 < end and self.tokens[j] in ('.', '->'):
            member = f'{current}::{self.tokens[j + 1]}'
            if record:
                self.uses.add(member)
            j += 2
            if j < end and self.tokens[j] == '<':
                j = self.skip_template_arguments(j)
            if j < end and self.tokens[j] == '(':
                j = self.skip_parentheses(j)
            entry = self.entries.get(member)
            if j < end and self.tokens[j] in ('.', '->'):
                if not entry or not entry.returns:
                    self.errors.append(f'{member} is used in a chain: give it "-> type" in the list')
                    return None
                current = None if entry.returns == NOT_AN_RCLCPP_TYPE else entry.returns
            else:
                return None if not entry or entry.returns in (None, NOT_AN_RCLCPP_TYPE) \
                    else entry.returns
        return None

    def declared_type(self, name, i):
        """Type of the declaration of `name` in force at token i: the nearest one before it in
        this file, else one in another file, else the first one after it (a class member)."""
        here = self.declarations.get(name, [])
        before = [kind for index, kind in here if index < i]
        if before:
            return before[-1]
        if name in self.shared:
            return self.shared[name]
        return here[0][1] if here else None

    def skip_parentheses(self, i):
        depth = 0
        for j in range(i, len(self.tokens)):
            depth += {'(': 1, ')': -1}.get(self.tokens[j], 0)
            if depth == 0:
                return j + 1
        return len(self.tokens)

    def collect_member_uses(self):
        for i in range(len(self.tokens) - 2):
            if not self.starts_name(i) or self.tokens[i + 1] not in ('.', '->'):
                continue
            name = self.tokens[i]
            if not re.match(r'[A-Za-z_]\w*$', name) or name in KEYWORDS or name == 'this':
                continue
            if name not in self.declarations and name not in self.shared:
                self.errors.append(f'cannot tell the type of `{name}` (declaration not found)')
                continue
            self.walk_chain(i, len(self.tokens), record=True)

    def declare(self):
        self.collect_names()
        self.collect_variables()
        return self

    def analyse(self, others):
        for other in others:
            if other is not self:
                for name, found in other.declarations.items():
                    self.shared[name] = found[0][1]
        self.collect_member_uses()
        return self


def check_sources(list_path, sources, node_class):
    entries = read_list(list_path)
    used = {}
    errors = []
    parsed = [Source(path, entries, node_class) for path in sources]
    # The first file is the private header: its aliases and members serve every file after it.
    header = parsed[0].declare()
    for source in parsed[1:]:
        source.aliases = dict(header.aliases)
        source.shared = {name: found[0][1] for name, found in header.declarations.items()}
        source.declare()
    for source in parsed:
        source.analyse(parsed)
        path = source.path
        errors += [f'{path}: {error}' for error in source.errors]
        for include in source.includes:
            used.setdefault('include ' + include, path)
        for name in source.uses:
            used.setdefault(name, path)
    for name, path in sorted(used.items()):
        if name not in entries:
            errors.append(f'{path}: uses {name}, which {list_path} does not list')
    for name, entry in sorted(entries.items()):
        if name not in used and not entry.implicit:
            errors.append(f'{list_path}:{entry.line}: {name} is listed but no longer used')
    for error in errors:
        print('FAIL', error)
    print(f'{len(used)} rclcpp uses checked against {len(entries)} kept entries, '
          f'{len(errors)} problems')
    return 1 if errors else 0


def check_humble(list_path, humble_root):
    """Each entry's header exists in the Humble checkout and names the entry's last part."""
    root = pathlib.Path(humble_root)
    errors = 0
    for name, entry in sorted(read_list(list_path).items()):
        package = entry.header.split('/')[0]
        header = root / package / 'include' / entry.header
        word = name.split('::')[-1]
        # SharedPtr aliases come from RCLCPP_SMART_PTR_DEFINITIONS in the class.
        pattern = r'\bRCLCPP_SMART_PTR_DEFINITIONS\w*\(' if word == 'SharedPtr' else \
            r'\b' + re.escape(word) + r'\b'
        if not header.is_file():
            print(f'FAIL {name}: {header} does not exist')
            errors += 1
        elif not name.startswith('include ') and not re.search(pattern, header.read_text()):
            print(f'FAIL {name}: {header} does not mention {word}')
            errors += 1
    print(f'{errors} entries not found in {root}')
    return 1 if errors else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('list')
    parser.add_argument('sources', nargs='*')
    parser.add_argument('--humble-source', help='a checkout of ros2/rclcpp at branch humble')
    parser.add_argument('--node-class', default='TeleopNode')
    arguments = parser.parse_args()
    if arguments.humble_source:
        return check_humble(arguments.list, arguments.humble_source)
    if not arguments.sources:
        parser.error('no source files given')
    return check_sources(arguments.list, arguments.sources, arguments.node_class)


if __name__ == '__main__':
    sys.exit(main())
