'use strict';
// Puts a query into the page script's literal the way a test may: every character but letters,
// digits and the space as \uXXXX, which any engine reads back exactly. The library's own
// escaping is tested through the pages it builds (pagedump).
const SPLICE = "var _search = '";

function splitScript(source) {
  const parts = source.split(SPLICE);
  if (parts.length !== 2 || !parts[1].startsWith("';"))
    throw new Error(`the script needs exactly one "${SPLICE}" followed by "';"`);
  return { head: parts[0] + SPLICE, tail: parts[1] };
}

function escapeForLiteral(text) {
  return text.replace(/[^A-Za-z0-9 ]/g, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0'));
}

function spliceQuery(source, query) {
  const { head, tail } = splitScript(source);
  return head + escapeForLiteral(query) + tail;
}

module.exports = { splitScript, escapeForLiteral, spliceQuery };
