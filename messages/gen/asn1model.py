"""Reads the message modules (messages/*.asn) into a model.

The modules are written in a small subset of ASN.1 with automatic tags:
type assignments of SEQUENCE, CHOICE and ENUMERATED; components of the
built-in types INTEGER [(lower..upper)], BOOLEAN, NULL, OCTET STRING,
IA5String [(SIZE (lower..upper))], OBJECT IDENTIFIER, SEQUENCE OF and
SET OF, or of a named type of the module or of one it imports.

One rule differs from X.680: in an ENUMERATED an enumerator written without
a number takes the value of its predecessor plus one (0 for the first), and
only an enumerator written with a number, name(n), has an explicit value.
The name tables keep that difference ("speak=4" against "listen").
"""

import re


class ModelError(Exception):
    pass


class Builtin:
    """A component type that is not a named type of a module."""

    def __init__(self, kind, lower=None, upper=None, element=None):
        self.kind = kind          # INTEGER BOOLEAN NULL OCTET STRING IA5String
                                  # OBJECT IDENTIFIER, SEQUENCE OF, SET OF
        self.lower = lower        # INTEGER range or IA5String size, else None
        self.upper = upper
        self.element = element    # element type of a list

    def is_list(self):
        return self.kind in ('SEQUENCE OF', 'SET OF')

    def is_sized_string(self):
        """A size-constrained IA5String: it has a record of its own."""
        return self.kind == 'IA5String' and self.lower is not None

    def key(self):
        if self.is_list():
            return (self.kind, self.element.key())
        return (self.kind, self.lower, self.upper)


class Ref:
    """A component type that names a type of a module."""

    def __init__(self, module, name):
        self.module = module
        self.name = name
        self.target = None        # the Type, once resolved

    def is_list(self):
        return False

    def is_sized_string(self):
        return False

    def key(self):
        return ('ref', self.module, self.name)


class Component:
    def __init__(self, name, type_, optional, addition):
        self.name = name
        self.type = type_
        self.optional = optional  # OPTIONAL, or an extension addition
        self.addition = addition


class Enumerator:
    def __init__(self, name, value, explicit):
        self.name = name
        self.value = value
        self.explicit = explicit


class Type:
    def __init__(self, module, name, kind):
        self.module = module
        self.name = name
        self.kind = kind          # SEQUENCE CHOICE ENUMERATED
        self.extendable = False
        self.components = []      # SEQUENCE fields or CHOICE alternatives
        self.enumerators = []

    @property
    def qualified(self):
        return '%s::%s' % (self.module, self.name)

    def root(self):
        return [c for c in self.components if not c.addition]

    def additions(self):
        return [c for c in self.components if c.addition]

    def optional_ids(self):
        """Per component, its number among the optional ones (the root's
        OPTIONAL fields, then the extension additions, which come last), or
        None for a mandatory one."""
        ids, next_id = [], 0
        for c in self.components:
            ids.append(next_id if c.optional else None)
            next_id += c.optional
        return ids

    def root_optional_count(self):
        return sum(1 for c in self.root() if c.optional)

    def sized_strings(self):
        return [c for c in self.components if c.type.is_sized_string()]

    def maximum(self):
        return max(e.value for e in self.enumerators)


class Module:
    def __init__(self, name, path):
        self.name = name
        self.path = path
        self.imports = {}         # type name -> module name
        self.types = {}           # name -> Type, in declaration order


_TOKEN = re.compile(r'\s+|--[^\n]*|(::=|\.\.\.|\.\.|[{}(),;]|-?\d+|[A-Za-z][A-Za-z0-9_-]*)')


def _tokenize(text, path):
    tokens = []
    pos, line = 0, 1
    while pos < len(text):
        m = _TOKEN.match(text, pos)
        if not m:
            raise ModelError('%s:%d: unexpected character %r' % (path, line, text[pos]))
        if m.group(1):
            tokens.append((m.group(1), line))
        line += m.group(0).count('\n')
        pos = m.end()
    return tokens


class _Parser:
    def __init__(self, text, path):
        self.path = path
        self.tokens = _tokenize(text, path)
        self.pos = 0

    def error(self, message):
        line = self.tokens[min(self.pos, len(self.tokens) - 1)][1] if self.tokens else 0
        raise ModelError('%s:%d: %s' % (self.path, line, message))

    def peek(self, ahead=0):
        i = self.pos + ahead
        return self.tokens[i][0] if i < len(self.tokens) else None

    def take(self, expected=None):
        tok = self.peek()
        if tok is None or (expected is not None and tok != expected):
            self.error('expected %s, found %s' % (expected or 'a token', tok))
        self.pos += 1
        return tok

    def accept(self, expected):
        if self.peek() == expected:
            self.pos += 1
            return True
        return False

    def identifier(self):
        tok = self.take()
        if not re.match(r'^[A-Za-z]', tok):
            self.error('expected a name, found %s' % tok)
        return tok

    def number(self):
        tok = self.take()
        if not re.match(r'^-?\d+$', tok):
            self.error('expected a number, found %s' % tok)
        return int(tok)

    def module(self):
        module = Module(self.identifier(), self.path)
        for word in ('DEFINITIONS', 'AUTOMATIC', 'TAGS', '::=', 'BEGIN'):
            self.take(word)
        if self.accept('IMPORTS'):
            while not self.accept(';'):
                names = [self.identifier()]
                while self.accept(','):
                    names.append(self.identifier())
                self.take('FROM')
                source = self.identifier()
                for name in names:
                    module.imports[name] = source
        while not self.accept('END'):
            name = self.identifier()
            self.take('::=')
            if name in module.types:
                self.error('%s is defined twice' % name)
            module.types[name] = self.assignment(module.name, name)
        if self.peek() is not None:
            self.error('text after END')
        return module

    def assignment(self, module, name):
        kind = self.take()
        if kind not in ('SEQUENCE', 'CHOICE', 'ENUMERATED') or self.peek() != '{':
            self.error('%s must be a SEQUENCE, CHOICE or ENUMERATED' % name)
        type_ = Type(module, name, kind)
        self.take('{')
        if kind == 'ENUMERATED':
            self.enumerators(type_)
        else:
            self.components(type_)
        return type_

    def enumerators(self, type_):
        value = -1
        while True:
            if self.accept('...'):
                type_.extendable = True
            else:
                name = self.identifier()
                explicit = self.accept('(')
                if explicit:
                    value = self.number()
                    self.take(')')
                else:
                    value += 1
                type_.enumerators.append(Enumerator(name, value, explicit))
            if not self.accept(','):
                break
        self.take('}')

    def components(self, type_):
        addition = False
        while True:
            if self.accept('...'):
                if type_.extendable:
                    self.error('a second extension marker in %s' % type_.name)
                type_.extendable = addition = True
            else:
                name = self.identifier()
                component_type = self.component_type(type_.module)
                optional = self.accept('OPTIONAL')
                if type_.kind == 'CHOICE' and optional:
                    self.error('alternative %s of %s is OPTIONAL' % (name, type_.name))
                type_.components.append(Component(name, component_type,
                                                  optional or (addition and type_.kind == 'SEQUENCE'),
                                                  addition))
            if not self.accept(','):
                break
        self.take('}')

    def range(self):
        self.take('(')
        lower = self.number()
        self.take('..')
        upper = self.number()
        self.take(')')
        if lower > upper:
            self.error('empty range %d..%d' % (lower, upper))
        return lower, upper

    def component_type(self, module):
        tok = self.take()
        if tok == 'INTEGER':
            if self.peek() == '(':
                lower, upper = self.range()
                return Builtin('INTEGER', lower, upper)
            return Builtin('INTEGER')
        if tok in ('BOOLEAN', 'NULL'):
            return Builtin(tok)
        if tok == 'OCTET':
            self.take('STRING')
            return Builtin('OCTET STRING')
        if tok == 'OBJECT':
            self.take('IDENTIFIER')
            return Builtin('OBJECT IDENTIFIER')
        if tok == 'IA5String':
            if self.peek() == '(':
                self.take('(')
                self.take('SIZE')
                lower, upper = self.range()
                self.take(')')
                return Builtin('IA5String', lower, upper)
            return Builtin('IA5String')
        if tok in ('SEQUENCE', 'SET'):
            if self.peek() != 'OF':
                self.error('a component must name its SEQUENCE or CHOICE type')
            self.take('OF')
            return Builtin(tok + ' OF', element=self.component_type(module))
        if tok == 'CHOICE' or tok == 'ENUMERATED':
            self.error('a component must name its %s type' % tok)
        self.pos -= 1
        return Ref(module, self.identifier())


def _check_type(type_):
    where = '%s: %s' % (type_.qualified, type_.kind)
    names = [c.name for c in type_.components] or [e.name for e in type_.enumerators]
    if not names:
        raise ModelError('%s has no components' % where)
    duplicates = sorted(set(n for n in names if names.count(n) > 1))
    if duplicates:
        raise ModelError('%s repeats %s' % (where, ', '.join(duplicates)))


def _resolve(modules, module, type_ref, where):
    if isinstance(type_ref, Builtin):
        if type_ref.is_list():
            _resolve(modules, module, type_ref.element, where)
        return
    home = module.imports.get(type_ref.name, module.name)
    if type_ref.name in module.imports and type_ref.name in module.types:
        raise ModelError('%s: %s is both imported and defined' % (where, type_ref.name))
    if home not in modules or type_ref.name not in modules[home].types:
        raise ModelError('%s: unknown type %s::%s' % (where, home, type_ref.name))
    type_ref.module = home
    type_ref.target = modules[home].types[type_ref.name]


def load(paths):
    """Parses the module files and resolves every reference; returns the
    modules by name in the order of the paths."""
    modules = {}
    for path in paths:
        with open(path) as f:
            module = _Parser(f.read(), path).module()
        if module.name in modules:
            raise ModelError('%s: module %s is defined twice' % (path, module.name))
        modules[module.name] = module
    for module in modules.values():
        for name, source in module.imports.items():
            if source not in modules or name not in modules[source].types:
                raise ModelError('%s: %s is not a type of %s' % (module.path, name, source))
        for type_ in module.types.values():
            _check_type(type_)
            for component in type_.components:
                _resolve(modules, module, component.type,
                         '%s.%s' % (type_.qualified, component.name))
    return modules


def innermost(t):
    """The element type of a list (of a list...), or t itself."""
    while t.is_list():
        t = t.element
    return t


def constrained_strings(module):
    """The size-constrained IA5String components of a module, with their
    types: each has a record of its own, named after its type and field."""
    return [(type_, c) for type_ in module.types.values() for c in type_.sized_strings()]
