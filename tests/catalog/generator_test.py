#!/usr/bin/env python3
"""The metadata generator over a one-model tree: a good row is accepted and lands in the table
as written (a ';' of a formula included); every bad row stops it with exit status 1 and one line
"file:line: reason" on stderr.

    generator_test.py catalog/generate.py
"""
import contextlib
import importlib.util
import io
import os
import re
import sys
import tempfile

ROW = ('39\tGauss\t1\t1\t4\tGauss\t203\tGauss\tcore/peaks\n'
       '-\t-\t-\t-\t-\tGauss9\t9\tGauss9\tcore/peaks\n')
GOOD = ['Gauss', 'V', '1', '0', '-', '1', '1+3k:y', 'y0:baseline,xc:centre,w:width:pos,A:area',
        'y = y0 + sum g(x; xc, w, A)', 'peak',
        '0.3 | 0.5 0.1 1.2 2.0 ; 0.9 | 0.5 0.1 1.2 2.0 1.5 0.8 -1.0', '-']

# (what is wrong, column index, replacement or None to drop the column, expected reason)
BAD = [
    ('too few columns', 11, None, 'expected 12 tab-separated columns'),
    ('unknown model', 0, 'Gaus', 'Gaus is neither a table name nor an export'),
    ('unknown shape', 1, 'X', 'unknown shape "X"'),
    ('reserved not an integer', 2, 'one', 'reserved "one" is not an integer'),
    ('neither not an integer', 3, '0.5', 'neither "0.5" is not an integer'),
    ('unknown query answer', 4, 'some', 'unknown query answer "some"'),
    ('least not an integer', 5, 'x', 'least "x" is not an integer'),
    ('malformed layout', 6, '1+3', 'layout "1\\+3" is neither'),
    ('empty term', 6, '1+0k', 'a term reads at least one parameter'),
    ('unknown role', 7, 'y0:base,xc:centre,w:width,A:area', 'parameter y0: unknown role "base"'),
    ('unknown domain', 7, 'y0:baseline,xc:centre,w:width:wide,A:area', 'unknown domain "wide"'),
    ('no role', 7, 'y0,xc:centre,w:width,A:area', 'parameter "y0" is not name:role'),
    ('repeated name', 7, 'y0:baseline,xc:centre,xc:width,A:area', 'parameter name xc given twice'),
    ('names short of the layout', 7, 'y0:baseline,xc:centre,w:width',
     '3 parameter names where the layout reads 4'),
    ('empty formula', 8, ' ', 'empty formula'),
    ('unknown start kind', 9, 'bell', 'unknown start kind "bell"'),
    ('no point', 10, '-', 'Gauss has no generic point'),
    ('point without bar', 10, '0.3 0.5 0.1 1.2 2.0', 'is not "x \\| p1 p2 ..."'),
    ('point with two inputs', 10, '0.3,1 | 0.5 0.1 1.2 2.0', 'gives 2 inputs for a model of 1'),
    ('point not a number', 10, '0.3 | 0.5 0.1 one 2.0', 'parameter "one" is not a number'),
    ('point a partial term', 10, '0.3 | 0.5 0.1 1.2 2.0 1.5', '5 parameters do not fit the layout'),
    ('point not finite', 10, 'inf | 0.5 0.1 1.2 2.0', 'input "inf" is not finite'),
    ('unknown missing output', 11, 'y2', 'unknown missing output "y2"'),
    ('missing output twice', 11, 'y1,y1', 'missing outputs "y1,y1" name one twice'),
    ('empty missing output', 11, 'deriv,', 'unknown missing output ""'),
]


def load(path):
    found = importlib.util.spec_from_file_location('generate', path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def run(generator, line, extra=''):
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, 'frame', 'model_info', 'core'))
        os.makedirs(os.path.join(root, 'models', 'core'))
        open(os.path.join(root, 'models', 'core', 'peaks.cpp'), 'w').close()
        with open(os.path.join(root, 'frame', 'functions.tsv'), 'w') as f:
            f.write('#row\tname\n' + ROW)
        with open(os.path.join(root, 'frame', 'model_info', 'core', 'peaks.tsv'), 'w') as f:
            f.write('# header\n' + line + '\n' + extra)
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            rc = generator.main(['generate.py', root, os.path.join(root, 'out'), '1'])
        table = ''
        if rc == 0:
            with open(os.path.join(root, 'out', 'catalog_table.cpp')) as f:
                table = f.read()
        return rc, err.getvalue(), table


def main():
    generator = load(sys.argv[1])
    failures = []
    good = list(GOOD)
    good[8] = 'y = a; b = 2'
    good[11] = 'deriv,y1'
    rc, err, table = run(generator, '\t'.join(good))
    if (rc != 0 or '"y = a; b = 2"' not in table or 'FM_ROLE_WIDTH, FM_DOMAIN_POSITIVE' not in table
            or 'FM_MISSING_Y1 | FM_MISSING_DERIV}' not in table):
        failures.append('good row: rc %d, %s' % (rc, err.strip()))
    for what, col, value, reason in BAD:
        cols = list(GOOD)
        if value is None:
            del cols[col]
        else:
            cols[col] = value
        rc, err, _ = run(generator, '\t'.join(cols))
        expected = r'^frame/model_info/core/peaks\.tsv:2: .*' + reason
        if rc != 1 or err.count('\n') != 1 or not re.search(expected, err):
            failures.append('%s: rc %d, stderr %r' % (what, rc, err))
    rc, err, _ = run(generator, '\t'.join(GOOD), '\t'.join(GOOD) + '\n')
    if rc != 1 or 'peaks.tsv:3: second row for Gauss' not in err:
        failures.append('second row: rc %d, stderr %r' % (rc, err))
    for f in failures:
        print('FAILED', f)
    print('%d of %d cases passed' % (len(BAD) + 2 - len(failures), len(BAD) + 2))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
