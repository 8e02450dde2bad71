"""Checks the message modules against the figures they are known to have, so
that a slip in the ASN.1 text (a lost type, a list typed wrongly) stops the
build instead of changing the wire format."""

from asn1model import Builtin, ModelError, Ref, constrained_strings, innermost

# Types per module: SEQUENCE, CHOICE and ENUMERATED assignments plus the
# records of size-constrained strings.
TYPES = {'LGCP': 106, 'TERM': 159, 'ACP': 42, 'HSP': 21, 'BASE': 3, 'MON': 19,
         'VARKGW': 145, 'MEDIA': 11, 'CCP': 2}
KINDS = {'SEQUENCE': 290, 'CHOICE': 110, 'ENUMERATED': 107}
INTEGER_RANGES = 22
LISTS = 33
# Types per module that a message of each link can carry.
REACHED = {
    ('LGCP', 'Message'): {'LGCP': 105, 'TERM': 68, 'ACP': 10, 'HSP': 1, 'BASE': 1,
                          'MON': 4, 'VARKGW': 140},
    ('MON', 'Message'): {'MON': 19},
}


def type_count(module):
    return len(module.types) + len(constrained_strings(module))


def _component_types(modules):
    def walk(t):
        yield t
        if isinstance(t, Builtin) and t.is_list():
            yield from walk(t.element)
    for module in modules.values():
        for type_ in module.types.values():
            for c in type_.components:
                yield from walk(c.type)


def reached(root):
    """Counts per module the types a value of root can hold, root included."""
    seen, strings = set(), set()

    def visit(type_):
        if type_.qualified in seen:
            return
        seen.add(type_.qualified)
        for c in type_.components:
            t = innermost(c.type)
            if isinstance(t, Ref):
                visit(t.target)
            elif t.is_sized_string():
                strings.add((type_.module, type_.name, c.name))
    visit(root)
    counts = {}
    for module in [q.split('::')[0] for q in seen] + [s[0] for s in strings]:
        counts[module] = counts.get(module, 0) + 1
    return counts


def check(modules):
    problems = []

    def expect(what, found, wanted):
        if found != wanted:
            problems.append('%s: %s, expected %s' % (what, found, wanted))
    expect('modules', sorted(modules), sorted(TYPES))
    for name, wanted in TYPES.items():
        if name in modules:
            expect('types of ' + name, type_count(modules[name]), wanted)
    kinds = {}
    for module in modules.values():
        for type_ in module.types.values():
            kinds[type_.kind] = kinds.get(type_.kind, 0) + 1
    expect('types by kind', kinds, KINDS)
    types = list(_component_types(modules))
    expect('INTEGER ranges', len({t.key() for t in types if isinstance(t, Builtin)
                                  and t.kind == 'INTEGER' and t.lower is not None}),
           INTEGER_RANGES)
    expect('list types', len({t.key() for t in types if isinstance(t, Builtin) and t.is_list()}),
           LISTS)
    for (module, name), wanted in REACHED.items():
        if module in modules and name in modules[module].types:
            expect('types reached from %s::%s' % (module, name),
                   reached(modules[module].types[name]), wanted)
    if problems:
        raise ModelError('the message modules do not add up:\n  ' + '\n  '.join(problems))
