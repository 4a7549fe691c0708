// The tedious client against the listener (run under with_listener.sh): logins with every TDS
// version it speaks, rows of each type, errors with their numbers, a restore's informational
// messages, a cancelled statement, and several connections at once.
'use strict';
const { Connection, Request } = require('tedious');

const port = Number(process.env.TDS_PORT);
const password = process.env.TDS_PASSWORD;
const dataDir = process.env.TDS_DATA;
const sampleDir = process.env.FINPREP_SAMPLE_DIR;

let failures = 0;
function check(what, ok, detail) {
  if (!ok) {
    failures += 1;
    console.log(`FAIL: ${what}${detail === undefined ? '' : `: ${JSON.stringify(detail)}`}`);
  }
}

function connect({ version = '7_4', user = 'sa', pass = password, database = 'master', encrypt = false } = {}) {
  const c = new Connection({
    server: '127.0.0.1',
    authentication: { type: 'default', options: { userName: user, password: pass } },
    options: {
      port, database, encrypt, trustServerCertificate: true, tdsVersion: version,
      rowCollectionOnRequestCompletion: true, connectTimeout: 10000, requestTimeout: 30000,
    },
  });
  c.infos = [];
  c.on('infoMessage', (m) => c.infos.push(m));
  const errors = [];
  c.on('errorMessage', (m) => errors.push(m));
  return new Promise((resolve, reject) => {
    c.connect((err) => {
      if (!err) return resolve(c);
      err.numbers = errors.map((m) => m.number).join(',');
      return reject(err);
    });
  });
}

function batch(c, sql, timeout) {
  return new Promise((resolve, reject) => {
    const r = new Request(sql, (err, rowCount, rows) => (err ? reject(err) : resolve({ rowCount, rows })));
    if (timeout) r.setTimeout(timeout);
    c.execSqlBatch(r);
  });
}

function values(rows) {
  return rows.map((row) => row.map((col) => (col.value instanceof Date ? col.value.toISOString() : col.value)));
}

async function failure(promise) {
  try {
    await promise;
    return null;
  } catch (err) {
    return err;
  }
}

async function typesWithEveryVersion() {
  const long = 'x'.repeat(4500);
  for (const version of ['7_1', '7_2', '7_3_A', '7_3_B', '7_4']) {
    const c = await connect({ version });
    const { rows } = await batch(c, 'SELECT CAST(-7 AS int) AS i, CAST(200 AS tinyint) AS ti, ' +
      'CAST(-300 AS smallint) AS si, CAST(9000000000 AS bigint) AS bi, CAST(1 AS bit) AS b, ' +
      'CAST(-12.3456 AS money) AS m, CAST(-1.25 AS smallmoney) AS sm, ' +
      'CAST(-123456789.25 AS decimal(18,2)) AS de, CAST(1.5 AS float) AS f, CAST(2.5 AS real) AS r, ' +
      "CAST('2021-02-03 04:05:06.007' AS datetime) AS d, CAST('1899-12-31 23:59:59.997' AS datetime) AS old, " +
      `N'中文' AS t, '' AS e, NULL AS n, CAST(NULL AS money) AS nm, '${long}' AS l`);
    check(`${version}: one row`, rows.length === 1, rows.length);
    const names = rows[0].map((col) => col.metadata.colName).join(',');
    check(`${version}: column names`, names === 'i,ti,si,bi,b,m,sm,de,f,r,d,old,t,e,n,nm,l', names);
    const got = values(rows)[0];
    const want = [-7, 200, -300, '9000000000', true, -12.3456, -1.25, -123456789.25, 1.5, 2.5,
      '2021-02-03T04:05:06.007Z', '1899-12-31T23:59:59.997Z', '中文', '', null, null, long];
    check(`${version}: values`, JSON.stringify(got) === JSON.stringify(want), got.slice(0, -1));
    c.close();
  }
}

async function tablesErrorsAndRestore() {
  const c = await connect();
  const created = await batch(c, "CREATE TABLE t (id int, name nvarchar(10)) INSERT INTO t VALUES (1, N'甲'), (2, NULL)");
  check('rows inserted', created.rowCount === 2, created.rowCount);
  const { rows } = await batch(c, 'SELECT id, name FROM t ORDER BY id');
  check('rows read', JSON.stringify(values(rows)) === JSON.stringify([[1, '甲'], [2, null]]), values(rows));

  const err = await failure(batch(c, 'SELECT * FROM nope'));
  check('error number', err && err.number === 208, err && err.number);
  check('error text', err && err.message === "Invalid object name 'nope'.", err && err.message);
  const syntax = await failure(batch(c, 'SELECT FROM'));
  check('syntax error', syntax && syntax.number === 156 && syntax.class === 15, syntax && syntax.number);

  c.infos.length = 0;
  await batch(c, `RESTORE DATABASE books FROM DISK='${sampleDir}/sample-one.bak' WITH FILE=1, ` +
    `MOVE 'CW_Data' TO '${dataDir}/books.mdf', MOVE 'CW_Log' TO '${dataDir}/books.ldf'`);
  const numbers = c.infos.map((m) => m.number).join(',');
  check('restore messages', numbers === '4035,4035,3014', numbers);
  check('restore text', c.infos.length === 3 && /^Processed \d+ pages for database 'books', file 'CW_Data' on file 1\.$/.test(c.infos[0].message), c.infos[0]);
  check('restore end', c.infos.length === 3 && c.infos[2].message.startsWith('RESTORE DATABASE successfully processed'), c.infos[2]);
  c.close();

  const books = await connect({ database: 'books' });
  const accounts = await batch(books, "SELECT AccName FROM t_Account WHERE AccCode = '9991'");
  check('restored database', accounts.rows.length === 1 && accounts.rows[0][0].value === '账套2021', values(accounts.rows));
  books.close();
}

async function refusedLogins() {
  const cases = [
    [{ pass: 'wrong' }, '18456', "Login failed for user 'sa'."],
    [{ user: 'someone' }, '18456', "Login failed for user 'someone'."],
    [{ database: 'nodb' }, '4060,18456', "Login failed for user 'sa'."],
    // tedious itself would go on unencrypted: the server refuses instead.
    [{ encrypt: true }, '18456', 'asks for encryption, which this server does not offer'],
  ];
  for (const [options, numbers, text] of cases) {
    const err = await failure(connect(options));
    check(`refused ${JSON.stringify(options)}`, err && err.code === 'ELOGIN' && err.numbers === numbers &&
      err.message.includes(text), err && [err.numbers, err.message]);
  }
}

async function cancelAndConcurrency() {
  const c = await connect();
  const start = Date.now();
  const err = await failure(batch(c, "WAITFOR DELAY '00:00:30' SELECT 1 AS x", 500));
  check('time-out', err && err.code === 'ETIMEOUT', err && err.code);
  check('statement cancelled', Date.now() - start < 15000, Date.now() - start);
  const after = await batch(c, 'SELECT 2 AS y');
  check('connection usable after the cancel', after.rows[0][0].value === 2);

  const other = await connect();
  let waited = false;
  const waiting = batch(c, "WAITFOR DELAY '00:00:04'").then(() => { waited = true; });
  for (let i = 0; i < 5; i += 1) {
    const { rows } = await batch(other, `SELECT ${i} AS i`);
    check('other connection answered', rows[0][0].value === i);
  }
  check('other connection not held up by the wait', !waited);
  await waiting;
  c.close();
  other.close();
}

(async () => {
  await typesWithEveryVersion();
  await tablesErrorsAndRestore();
  await refusedLogins();
  await cancelAndConcurrency();
})().then(() => {
  if (failures) {
    console.log(`${failures} failed`);
    process.exit(1);
  }
  console.log('tedious: every check passed');
}, (err) => {
  console.log('FAIL:', err);
  process.exit(1);
});
