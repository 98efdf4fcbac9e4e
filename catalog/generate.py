#!/usr/bin/env python3
"""Generates the registry and the model catalogue from the row list and the model metadata.

    generate.py SOURCE_DIR OUTPUT_DIR VERSION_MAJOR

Reads frame/functions.tsv (the registry rows and exports) and frame/model_info/<family>/<unit>.tsv
(one metadata row per model; the columns are described in README.md, "Adding a model") and
writes into OUTPUT_DIR, for the rows whose source unit exists:

    registry_rows.inc   the function_table rows, in table order
    model_decls.inc     declarations of the model functions behind those rows
    model_contracts.inc the shape and layout of every model function, for the success check
    fitmodels.map       the ELF version script: the export list in the version node
                        FITMODELS_<major>, everything else local
    fitmodels.def       the Windows module-definition file with the same names and ordinals
    present.tsv         the present lines of the row list, read by the tests
    generic_points.txt  every generic point, one line each, for programs outside the build
    catalog_table.cpp   the typed catalogue of every model (include/fitmodels_catalog.h)

A unit "family/name" exists when models/family/name.cpp or frame/name.cpp exists. Every line is
validated; the first bad one stops the build with "file:line: reason" on stderr and exit
status 1. A file is rewritten only when its content changes, so an unchanged catalogue rebuilds
nothing.
"""
import math
import os
import re
import sys

SHAPES = {'V': 'FM_SHAPE_VALUE_THEN_DERIVS', 'E': 'FM_SHAPE_EXCLUSIVE',
          'O0': 'FM_SHAPE_VALUE_ONLY_0', 'O1': 'FM_SHAPE_VALUE_ONLY_1',
          'OM': 'FM_SHAPE_VALUE_ONLY_MISSING', 'P': 'FM_SHAPE_PLACEHOLDER',
          'T': 'FM_SHAPE_ERROR_TEST'}
QUERIES = {'-': 'FM_QUERY_NOT_EXAMINED', 'none': 'FM_QUERY_NONE', 'mask': 'FM_QUERY_MASK',
           'nostore': 'FM_QUERY_NO_STORE'}
ROLES = ['other', 'baseline', 'amplitude', 'height', 'area', 'centre', 'width', 'rate', 'time',
         'exponent', 'shape', 'offset', 'anchor_x', 'anchor_y']
DOMAINS = {'pos': 'FM_DOMAIN_POSITIVE', 'nonneg': 'FM_DOMAIN_NONNEGATIVE',
           'nonzero': 'FM_DOMAIN_NONZERO', 'neg': 'FM_DOMAIN_NEGATIVE', 'unit': 'FM_DOMAIN_UNIT'}
STARTS = ['none', 'generic', 'linear', 'peak', 'sigmoid', 'dose_response', 'decay', 'growth',
          'power', 'saturation', 'periodic', 'distribution', 'cumulative', 'expected_value',
          'surface_peak', 'surface']
META_COLUMNS = ['name', 'shape', 'reserved', 'neither', 'query', 'least', 'layout', 'params',
                'formula', 'start', 'points', 'missing']
# Outputs a success may carry as MISSING_VALUE where the model's description defines it so: the
# bits of fm_model_info.defined_missing.
MISSING = {'y1': 'FM_MISSING_Y1', 'deriv': 'FM_MISSING_DERIV'}
NAME = re.compile(r'^[A-Za-z_][A-Za-z0-9_]*$')


class Bad(Exception):
    pass


def fail(where, reason):
    raise Bad('%s: %s' % (where, reason))


def write_if_changed(path, content):
    if os.path.exists(path):
        with open(path, encoding='utf-8', newline='') as f:
            if f.read() == content:
                return
    with open(path, 'w', encoding='utf-8', newline='') as f:
        f.write(content)


def integer(text, what, where):
    if not re.fullmatch(r'-?[0-9]+', text):
        fail(where, '%s "%s" is not an integer' % (what, text))
    return int(text)


def c_string(s):
    out = ['"']
    for ch in s:
        if ch in '"\\':
            out.append('\\' + ch)
        elif ch == '?':
            out.append('\\?')  # no trigraphs
        elif ' ' <= ch <= '~':
            out.append(ch)
        else:
            out.append(''.join('\\%03o' % b for b in ch.encode('utf-8')))
    out.append('"')
    return ''.join(out)


def c_double(text, what, where):
    try:
        v = float(text)
    except ValueError:
        fail(where, '%s "%s" is not a number' % (what, text))
    if not math.isfinite(v):
        fail(where, '%s "%s" is not finite' % (what, text))
    return repr(v)  # shortest text that reads back as the same double


# ---- the row list ---------------------------------------------------------------------------
def read_rows(src, path):
    rows = []
    with open(path, encoding='utf-8') as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip('\n')
            where = '%s:%d' % (os.path.relpath(path, src), lineno)
            if line.startswith('#') or line == '':
                continue
            f9 = line.split('\t')
            if len(f9) != 9:
                fail(where, 'expected 9 tab-separated fields, found %d' % len(f9))
            row, name, nindep, ndep, nparams, export, ordinal, symbol, unit = f9
            unit_file = unit.rsplit('/', 1)[-1]
            if not (os.path.exists(os.path.join(src, 'models', unit + '.cpp'))
                    or os.path.exists(os.path.join(src, 'frame', unit_file + '.cpp'))):
                continue
            rows.append({'line': line, 'row': row, 'name': name, 'nIndep': nindep, 'nDep': ndep,
                         'nParams': nparams, 'export': export, 'ordinal': ordinal,
                         'symbol': symbol, 'unit': unit, 'where': where})
    return rows


def registry_files(rows, major):
    regs, decls, declared = [], [], set()
    mapping = ['FITMODELS_%s {\n  global:\n' % major]
    definition = ['LIBRARY fitmodels\nEXPORTS\n']
    present = ['#row\tname\tnIndep\tnDep\tnParams\texport\tordinal\tsymbol\tunit\n']
    for r in rows:
        present.append(r['line'] + '\n')
        if r['row'] != '-':
            regs.append('  {%s, %s, %s, 0, "%s", %s},  /* row %s */\n' % (
                r['nIndep'], r['nDep'], r['nParams'], r['name'], r['symbol'], r['row']))
            if r['symbol'] not in declared:
                declared.add(r['symbol'])
                decls.append('FM_DECLARE_MODEL(%s);\n' % r['symbol'])
        if r['export'] != '-':
            mapping.append('    %s;\n' % r['export'])
            definition.append('  %s @%s\n' % (r['export'], r['ordinal']))
    mapping.append('  local:\n    *;\n};\n')
    return {'registry_rows.inc': ''.join(regs), 'model_decls.inc': ''.join(decls),
            'fitmodels.map': ''.join(mapping), 'fitmodels.def': ''.join(definition),
            'present.tsv': ''.join(present)}


# ---- the metadata rows ----------------------------------------------------------------------
def parse_layout(text, where):
    m = re.fullmatch(r'([0-9]+)\+([0-9]+)k(:y)?', text)
    if m:
        if int(m.group(2)) < 1:
            fail(where, 'layout "%s": a term reads at least one parameter' % text)
        return int(m.group(1)), int(m.group(2)), 1 if m.group(3) else 0
    if re.fullmatch(r'[0-9]+', text):
        return int(text), 0, 0
    fail(where, 'layout "%s" is neither a count N nor S+Mk or S+Mk:y' % text)


def parse_params(text, count, where):
    params = []
    for item in text.split(','):
        parts = item.split(':')
        if len(parts) not in (2, 3):
            fail(where, 'parameter "%s" is not name:role or name:role:domain' % item)
        name, role = parts[0], parts[1]
        if not NAME.match(name):
            fail(where, 'parameter name "%s" is not an identifier' % name)
        if role not in ROLES:
            fail(where, 'parameter %s: unknown role "%s" (one of %s)'
                 % (name, role, ' '.join(ROLES)))
        domain = 'FM_DOMAIN_ANY'
        if len(parts) == 3:
            if parts[2] not in DOMAINS:
                fail(where, 'parameter %s: unknown domain "%s" (one of %s)'
                     % (name, parts[2], ' '.join(DOMAINS)))
            domain = DOMAINS[parts[2]]
        if name in [p[0] for p in params]:
            fail(where, 'parameter name %s given twice' % name)
        params.append((name, 'FM_ROLE_' + role.upper(), domain))
    if len(params) != count:
        fail(where, '%d parameter names where the layout reads %d' % (len(params), count))
    return params


def layout_params(shared, per_term, n):
    """Parameters read for nParams = n, or -1 (the rule of fm_layout_params)."""
    if per_term == 0:
        return shared if n == shared else -1
    if n < shared + per_term or (n - shared) % per_term != 0:
        return -1
    return n


def parse_points(text, nindep, shared, per_term, least, where):
    if text == '-':
        return []
    points = []
    for item in text.split(';'):
        halves = item.split('|')
        if len(halves) != 2:
            fail(where, 'point "%s" is not "x | p1 p2 ..."' % item.strip())
        xs = halves[0].strip().split(',')
        if len(xs) != nindep:
            fail(where, 'point "%s" gives %d inputs for a model of %d'
                 % (item.strip(), len(xs), nindep))
        x = [c_double(v.strip(), 'input', where) for v in xs]
        p = [c_double(v, 'parameter', where) for v in halves[1].split()]
        n = len(p)
        if layout_params(shared, per_term, n) < 0 and not (least >= 0 and n < least):
            fail(where, 'point "%s": %d parameters do not fit the layout' % (item.strip(), n))
        points.append((x, p))
    return points


def parse_missing(text, where):
    if text == '-':
        return '0'
    items = text.split(',')
    for item in items:
        if item not in MISSING:
            fail(where, 'unknown missing output "%s" (- or a list of %s)'
                 % (item, ' '.join(MISSING)))
    if len(set(items)) != len(items):
        fail(where, 'missing outputs "%s" name one twice' % text)
    return ' | '.join(MISSING[k] for k in MISSING if k in items)


def read_meta(src, info_dir, rows):
    by_name = {}
    for r in rows:
        if r['row'] != '-':
            by_name.setdefault(r['name'], r)
    exports = {r['export']: r for r in rows if r['export'] != '-'}
    models = []
    seen = {}
    files = []
    for dirpath, _, names in os.walk(info_dir):
        files += [os.path.join(dirpath, n) for n in names if n.endswith('.tsv')]
    for path in sorted(files):
        unit = os.path.relpath(path, info_dir)[:-len('.tsv')].replace(os.sep, '/')
        with open(path, encoding='utf-8') as f:
            lines = f.read().split('\n')
        if lines and lines[-1] == '':
            lines.pop()
        for lineno, line in enumerate(lines, 1):
            where = '%s:%d' % (os.path.relpath(path, src), lineno)
            if line.startswith('#') or line.strip() == '':
                continue
            c = line.split('\t')
            if len(c) != len(META_COLUMNS):
                fail(where, 'expected %d tab-separated columns (%s), found %d'
                     % (len(META_COLUMNS), ' '.join(META_COLUMNS), len(c)))
            (name, shape, reserved, neither, query, least, layout, params, formula, start, pts,
             missing) = c
            if name in seen:
                fail(where, 'second row for %s (first at %s)' % (name, seen[name]))
            seen[name] = where
            row = by_name.get(name) or exports.get(name)
            if row is None:
                fail(where, '%s is neither a table name nor an export of frame/functions.tsv'
                     % name)
            if row['unit'] != unit:
                fail(where, '%s is defined in %s (%s), not in %s'
                     % (name, row['unit'], row['where'], unit))
            resets = shape.endswith('!')
            if resets:
                shape = shape[:-1]
            if shape not in SHAPES:
                fail(where, 'unknown shape "%s" (one of %s, with an optional trailing !)'
                     % (c[1], ' '.join(SHAPES)))
            reserved_rc = integer(reserved, 'reserved', where)
            neither_rc = -1 if neither == '*' else integer(neither, 'neither', where)
            if query not in QUERIES:
                fail(where, 'unknown query answer "%s" (one of %s)' % (query, ' '.join(QUERIES)))
            least_n = -1 if least == '-' else integer(least, 'least', where)
            shared, per_term, term_outputs = parse_layout(layout, where)
            plist = parse_params(params, shared + per_term, where)
            if formula.strip() == '':
                fail(where, 'empty formula')
            if start not in STARTS:
                fail(where, 'unknown start kind "%s" (one of %s)' % (start, ' '.join(STARTS)))
            is_row = row['row'] != '-'
            # An export without a row takes its input count from its first point.
            nindep = int(row['nIndep']) if is_row else len(pts.split('|')[0].split(','))
            points = parse_points(pts, nindep, shared, per_term, least_n, where)
            missing_bits = parse_missing(missing, where)
            models.append({
                'name': name, 'row': row, 'unit': unit, 'shape': SHAPES[shape], 'resets': resets,
                'reserved': reserved_rc, 'neither': neither_rc, 'query': QUERIES[query],
                'least': least_n, 'layout': (shared, per_term, term_outputs), 'params': plist,
                'formula': formula, 'start': 'FM_START_' + start.upper(),
                'derivatives': 1 if shape in ('V', 'E') else 0, 'points': points,
                'is_row': is_row, 'nIndep': nindep, 'where': where, 'letter': shape[0],
                'missing': missing_bits})
    for r in rows:
        if r['row'] != '-' and not r['unit'].startswith('frame/') and r['name'] not in seen:
            fail(r['where'], 'registered model %s has no metadata row in frame/model_info/%s.tsv'
                 % (r['name'], r['unit']))
    for m in models:
        if not m['points']:
            fail(m['where'], '%s has no generic point (the contract check runs there)' % m['name'])
    return models


def contracts_source(models):
    # One line per model function for the definition macro of frame/contract.h, which checks
    # every success the function returns against its shape and layout:
    #   FM_CONTRACT(symbol, shape letter, shared, per_term, reads nParams)
    out, done = [], set()
    for m in models:
        symbol = m['row']['symbol']
        if symbol in done:
            continue
        done.add(symbol)
        shared, per_term, _ = m['layout']
        out.append('FM_CONTRACT(%s, %s, %d, %d, %d)\n' % (
            symbol, m['letter'], shared, per_term, 0 if m['least'] < 0 else 1))
    return ''.join(out)


def points_text(models):
    # Every generic point, for programs outside the build (the install and DLL checks):
    #   table-name export-name ordinal x1[,x2,..] p1 .. pn   ("-" where a model has no such name)
    out = ['# Generated by catalog/generate.py: the generic points of every model.\n']
    for m in models:
        r = m['row']
        table = r['name'] if m['is_row'] else '-'
        ordinal = r['ordinal'] if r['export'] != '-' else '0'
        for x, p in m['points']:
            out.append('%s %s %s %s %s\n' % (table, r['export'], ordinal, ','.join(x), ' '.join(p)))
    return ''.join(out)


def catalog_source(models, rows):
    order = {id(r): i for i, r in enumerate(rows)}
    table_rows = [r for r in rows if r['row'] != '-']
    position = {id(r): i for i, r in enumerate(table_rows)}
    models.sort(key=lambda m: (0 if m['is_row'] else 1, order[id(m['row'])]))
    out = ['// Generated by catalog/generate.py from frame/functions.tsv and frame/model_info.\n',
           '// Do not edit: edit the metadata rows.\n',
           '#include "catalog/catalog_table.h"\n\n',
           'namespace {\n\n']
    for i, m in enumerate(models):
        out.append('// %s\n' % m['where'])
        out.append('const fm_param_info params_%d[] = {\n' % i)
        for name, role, domain in m['params']:
            out.append('  {"%s", %s, %s},\n' % (name, role, domain))
        out.append('};\n')
        for j, (_, p) in enumerate(m['points']):
            out.append('const double values_%d_%d[] = {0, %s};\n' % (i, j, ', '.join(p)))
        if m['points']:
            out.append('const fm_point points_%d[] = {\n' % i)
            for j, (x, p) in enumerate(m['points']):
                xs = (x + ['0.0'] * 3)[:3]
                out.append('  {{0, %s}, %d, values_%d_%d},\n' % (', '.join(xs), len(p), i, j))
            out.append('};\n')
        out.append('\n')
    out.append('}  // namespace\n\n')
    out.append('const fm_model_info fm_catalog_table[] = {\n')
    for i, m in enumerate(models):
        r = m['row']
        shared, per_term, term_outputs = m['layout']
        nindep = m['nIndep']
        ndep = r['nDep'] if m['is_row'] else '1'
        nparams = r['nParams'] if m['is_row'] else str(shared + per_term)
        out.append('  {%s, %s, %s, %d, %s, %s, %s, %s, %s, %d, %d, %d, %s, %d, {%d, %d, %d}, %d, '
                   'params_%d, %s, %s, %d, %d, %s, %s},\n' % (
                       c_string(m['name']),
                       c_string(r['export']) if r['export'] != '-' else 'nullptr',
                       c_string(m['unit']), position[id(r)] if m['is_row'] else -1,
                       r['ordinal'] if r['export'] != '-' else '0', nindep, ndep, nparams,
                       m['shape'], m['resets'], m['reserved'], m['neither'], m['query'],
                       m['least'], shared, per_term, term_outputs, len(m['params']), i,
                       c_string(m['formula']), m['start'], m['derivatives'], len(m['points']),
                       'points_%d' % i if m['points'] else 'nullptr', m['missing']))
    out.append('};\n\n')
    out.append('const size_t fm_catalog_table_size = %d;\n' % len(models))
    return ''.join(out)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write('usage: generate.py SOURCE_DIR OUTPUT_DIR VERSION_MAJOR\n')
        return 2
    src, out_dir, major = argv[1], argv[2], argv[3]
    try:
        rows = read_rows(src, os.path.join(src, 'frame', 'functions.tsv'))
        files = registry_files(rows, major)
        models = read_meta(src, os.path.join(src, 'frame', 'model_info'), rows)
        files['model_contracts.inc'] = contracts_source(models)
        files['generic_points.txt'] = points_text(models)
        files['catalog_table.cpp'] = catalog_source(models, rows)
    except Bad as e:
        sys.stderr.write('%s\n' % e)
        return 1
    os.makedirs(out_dir, exist_ok=True)
    for name, content in files.items():
        write_if_changed(os.path.join(out_dir, name), content)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
