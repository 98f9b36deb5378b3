'use strict';
// Reads a page that pagedump wrote (UTF-16LE with a byte order mark) and takes out its script.
// The escaping must keep every "<" of the query out of the page, so the page has exactly one
// script element, and it ends the page.
const fs = require('node:fs');

const SCRIPT_START = "<script type='text/javascript' language='javascript'>";
const PAGE_END = '</script></body></html>';

function readPage(file) {
  const bytes = fs.readFileSync(file);
  if (bytes[0] !== 0xff || bytes[1] !== 0xfe) return { problem: 'no UTF-16LE byte order mark' };
  const html = bytes.subarray(2).toString('utf16le');
  const start = html.indexOf(SCRIPT_START);
  let problem = null;
  if (!html.startsWith("<html style='border:none;'>")) problem = 'does not start with the html element';
  else if (!html.endsWith(PAGE_END)) problem = 'does not end with the script element';
  else if (start < 0 || html.indexOf('<script') !== html.lastIndexOf('<script')) problem = 'not exactly one script element';
  else if (html.indexOf('</script') !== html.length - PAGE_END.length) problem = 'the script element closes early';
  else if (/[^\x20-\x7e]/.test(html)) problem = 'holds characters outside printable ASCII';
  const script = problem ? undefined : html.slice(start + SCRIPT_START.length, html.length - PAGE_END.length);
  return { html, script, problem };
}

module.exports = { readPage };
