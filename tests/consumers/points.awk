# Joins the row list (frame/functions.tsv, first file) with the generic points
# (tests/data/derivative_points/*.tsv) into the consumer's points file:
#   table-name export-name ordinal x p1 .. pn
# "-" for a model without a table name or without an export, ordinal 0 without an export.
FNR == 1 { files++ }
/^#/ || /^[ \t]*$/ { next }
files == 1 {
  split($0, f, "\t")
  key = f[2] != "-" ? f[2] : f[6]
  row_name[key] = f[2]
  export_name[key] = f[6]
  ordinal[key] = f[7] == "-" ? 0 : f[7]
  next
}
{
  n = split($0, f, /[ \t]+/)
  if (!(f[1] in export_name)) {
    print "points.awk: " FILENAME ": no row or export named " f[1] > "/dev/stderr"
    bad = 1
    next
  }
  line = row_name[f[1]] " " export_name[f[1]] " " ordinal[f[1]]
  for (i = 2; i <= n; i++) line = line " " f[i]
  print line
}
END { exit bad }
