#!/usr/bin/env python3
"""Makes the aligned-PER known-answer vectors of the message modules with an
independent coder: Erlang's asn1 compiler (Debian package erlang-asn1).

    tests/messages/vectors/make_vectors.py [output]   (default: vectors.txt here)

Each vector is a value made by the filling rule below, encoded by the Erlang
coder. The C++ tests (tests/messages/value_filler.cpp) build the same value
by the same rule from the type-information records and must produce the same
octets. A change of the rule must be made in both places.

Filling rule. A counter k starts at the vector's seed; each value to fill
first increments it and then uses it:
- INTEGER unconstrained: k % 100 when k % 3 == 1, (k * 7919) % 65537 - 32768
  when k % 3 == 0, -(k * 104729) otherwise; INTEGER (lo..hi): lo + (k * 7919)
  % (hi - lo + 1); BOOLEAN: k is odd; NULL: nothing;
- ENUMERATED: among the enumerators whose value lies in 0..maximum, in
  declaration order, the one at k % their count;
- OCTET STRING: k % 5 octets, octet i being (k * 31 + i * 17) % 256;
- IA5String: "t" and k in decimal, cut to the upper size and padded with
  "x" to the lower size when the size is constrained;
- OBJECT IDENTIFIER: {1 3 6 (k % 1000)};
- SEQUENCE: each root field in order, an OPTIONAL one (at position i of the
  fields) present unless (k + i) % 4 == 3; then, when k is even, every
  extension addition, else none;
- CHOICE: the next name of the vector's path while the path lasts, else the
  alternative (root ones, then additions) at k % their count;
- SEQUENCE OF / SET OF: k % 3 elements.

Enumerations with explicit values are declared to the Erlang compiler as
INTEGER (0..maximum) (with "..." when extendable), since this system sends
the value, not the enumerator's index; names with underscores take hyphens
there, which changes no encoding.
"""

import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.abspath(os.path.join(HERE, '..', '..', '..'))
sys.path.insert(0, os.path.join(REPO, 'messages', 'gen'))
import asn1model as model  # noqa: E402

MODULE_FILES = ['lgcp', 'term', 'acp', 'hsp', 'base', 'mon', 'varkgw', 'media', 'ccp']


def erl_name(name):
    return name.replace('_', '-')


def erl_atom(name):
    return "'%s'" % name


def explicit_enum(type_):
    return type_.kind == 'ENUMERATED' and any(e.explicit for e in type_.enumerators)


# ---------------------------------------------------------------- Erlang modules

def erl_component_type(t):
    if isinstance(t, model.Ref):
        return erl_name(t.name)
    if t.is_list():
        return '%s %s' % (t.kind, erl_component_type(t.element))
    if t.lower is not None:
        if t.kind == 'INTEGER':
            return 'INTEGER (%d..%d)' % (t.lower, t.upper)
        return 'IA5String (SIZE (%d..%d))' % (t.lower, t.upper)
    return t.kind


def erl_type(type_):
    if explicit_enum(type_):
        return 'INTEGER (0..%d%s)' % (type_.maximum(), ', ...' if type_.extendable else '')
    if type_.kind == 'ENUMERATED':
        items = [erl_name(e.name) for e in type_.enumerators]
    else:
        items = []
        for i, c in enumerate(type_.components):
            if c.addition and (i == 0 or not type_.components[i - 1].addition):
                items.append('...')
            optional = ' OPTIONAL' if type_.kind == 'SEQUENCE' and c.optional else ''
            items.append('%s %s%s' % (erl_name(c.name), erl_component_type(c.type), optional))
    if type_.extendable and not type_.additions() and '...' not in items:
        items.append('...')
    return '%s {\n    %s\n}' % (type_.kind, ',\n    '.join(items))


def erl_module(module):
    text = '%s DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n' % module.name
    by_source = {}
    for name, source in module.imports.items():
        by_source.setdefault(source, []).append(erl_name(name))
    if by_source:
        text += 'IMPORTS\n' + '\n'.join('    %s FROM %s' % (', '.join(names), source)
                                        for source, names in by_source.items()) + ';\n'
    for type_ in module.types.values():
        text += '%s ::= %s\n' % (erl_name(type_.name), erl_type(type_))
    return text + 'END\n'


def compile_order(modules):
    order, seen = [], set()

    def visit(name):
        if name in seen:
            return
        seen.add(name)
        for source in modules[name].imports.values():
            visit(source)
        order.append(name)
    for name in modules:
        visit(name)
    return order


# ---------------------------------------------------------------- filling rule

class Filler:
    """Builds the Erlang term of the value the filling rule makes."""

    def __init__(self, seed, path):
        self.k = seed
        self.path = list(path)

    def next(self):
        self.k += 1
        return self.k

    def type_ref(self, t):
        if isinstance(t, model.Ref):
            return self.named(t.target)
        k = self.next()
        if t.kind == 'INTEGER':
            if t.lower is not None:
                return str(t.lower + (k * 7919) % (t.upper - t.lower + 1))
            if k % 3 == 1:
                return str(k % 100)
            if k % 3 == 0:
                return str((k * 7919) % 65537 - 32768)
            return str(-(k * 104729))
        if t.kind == 'BOOLEAN':
            return 'true' if k % 2 else 'false'
        if t.kind == 'NULL':
            return "'NULL'"
        if t.kind == 'OCTET STRING':
            return '<<%s>>' % ','.join(str((k * 31 + i * 17) % 256) for i in range(k % 5))
        if t.kind == 'IA5String':
            return '"%s"' % ia5_text(k, t.lower, t.upper)
        if t.kind == 'OBJECT IDENTIFIER':
            return '{1,3,6,%d}' % (k % 1000)
        return '[%s]' % ','.join(self.type_ref(t.element) for _ in range(k % 3))

    def named(self, type_):
        k = self.next()
        if type_.kind == 'ENUMERATED':
            e = enum_choice(type_, k)
            return str(e.value) if explicit_enum(type_) else erl_atom(erl_name(e.name))
        if type_.kind == 'CHOICE':
            alt = self.alternative(type_, k)
            return '{%s,%s}' % (erl_atom(erl_name(alt.name)), self.type_ref(alt.type))
        fields = []
        for i, c in enumerate(type_.root()):
            if c.optional and (k + i) % 4 == 3:
                fields.append('asn1_NOVALUE')
            else:
                fields.append(self.type_ref(c.type))
        for c in type_.additions():
            fields.append(self.type_ref(c.type) if k % 2 == 0 else 'asn1_NOVALUE')
        return '{%s}' % ','.join([erl_atom(erl_name(type_.name))] + fields)

    def alternative(self, type_, k):
        if self.path:
            name = self.path.pop(0)
            for c in type_.components:
                if c.name == name:
                    return c
            raise model.ModelError('%s has no alternative %s' % (type_.qualified, name))
        return type_.components[k % len(type_.components)]


def enum_choice(type_, k):
    candidates = [e for e in type_.enumerators if 0 <= e.value <= type_.maximum()]
    return candidates[k % len(candidates)]


def ia5_text(k, lower, upper):
    text = 't%d' % k
    if upper is not None:
        text = text[:upper].ljust(lower, 'x')
    return text


# ---------------------------------------------------------------- vector list

def vector_specs(modules):
    """(module, type, seed, path): every type with seeds 0 and 1, every CHOICE
    with each of its alternatives, and the envelope with each command and
    signal."""
    specs = []
    for module in modules.values():
        for type_ in module.types.values():
            specs.append((module.name, type_.name, 0, []))
            specs.append((module.name, type_.name, 1, []))
            if type_.kind == 'CHOICE':
                for c in type_.components:
                    specs.append((module.name, type_.name, 2, [c.name]))
    lgcp = modules['LGCP'].types
    for pdu in ('command', 'signal'):
        target = lgcp['Command' if pdu == 'command' else 'Signal']
        for seed in (0, 1):
            for c in target.components:
                specs.append(('LGCP', 'Message', seed, [pdu, c.name]))
    return specs


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, 'vectors.txt')
    modules = model.load([os.path.join(REPO, 'messages', f + '.asn') for f in MODULE_FILES])
    specs = vector_specs(modules)
    with tempfile.TemporaryDirectory() as work:
        for name in compile_order(modules):
            path = os.path.join(work, name + '.asn')
            with open(path, 'w') as f:
                f.write(erl_module(modules[name]))
            subprocess.run(['erlc', '-bper', name + '.asn'], cwd=work, check=True)
        lines = []
        for i, (mod, name, seed, path) in enumerate(specs):
            filler = Filler(seed, path)
            value = filler.named(modules[mod].types[name])
            if filler.path:
                raise model.ModelError('path %s not used up' % path)
            lines.append('  v(%d, %s, %s, %s)' % (i, erl_atom(mod), erl_atom(erl_name(name)), value))
        script = os.path.join(work, 'encode.escript')
        with open(script, 'w') as f:
            f.write('#!/usr/bin/env escript\n%%! -pa ' + work + '\n'
                    'v(I, M, T, V) ->\n'
                    '  case M:encode(T, V) of\n'
                    '    {ok, B} -> io:format("~b ~s~n", [I, binary:encode_hex(B)]);\n'
                    '    E -> io:format(standard_error, "~b ~p~n", [I, E]), halt(1)\n'
                    '  end.\n'
                    'main(_) ->\n' + ',\n'.join(lines) + '.\n')
        result = subprocess.run(['escript', script], check=True, capture_output=True, text=True)
    encoded = dict(line.split(' ') for line in result.stdout.split('\n') if line)
    with open(out_path, 'w') as f:
        f.write('# module type seed path hex: made by make_vectors.py with erlc -bper\n')
        for i, (mod, name, seed, path) in enumerate(specs):
            f.write('%s %s %d %s %s\n' % (mod, name, seed, '/'.join(path) or '-',
                                          encoded[str(i)]))
    print('%d vectors written to %s' % (len(specs), out_path))


if __name__ == '__main__':
    main()
