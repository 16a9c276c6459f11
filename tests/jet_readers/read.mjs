// Reads a Jet file with the mdb-reader package and prints what it sees as
// JSON: password, creation date, user tables with row count, columns and
// rows (dates as ISO text, binary as hex). Usage: node read.mjs FILE [PASSWORD]
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, password] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file), password ? { password } : undefined);
const value = (v) => {
  if (v instanceof Date) return v.toISOString();
  if (Buffer.isBuffer(v)) return v.toString("hex");
  return v;
};
const tables = {};
for (const name of reader.getTableNames()) {
  const t = reader.getTable(name);
  tables[name] = {
    rowCount: t.rowCount,
    columns: t.getColumns().map((c) => ({ name: c.name, type: c.type, size: c.size })),
    rows: t.getData().map((r) => t.getColumnNames().map((n) => value(r[n]))),
  };
}
process.stdout.write(JSON.stringify({
  password: reader.getPassword(),
  creationDate: reader.getCreationDate()?.toISOString() ?? null,
  tables,
}));
