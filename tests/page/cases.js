'use strict';
// The one table of cases for the calculator page, run in Node.js, in Wine's JScript and in
// Chromium. Plain data only (strings, numbers, booleans, arrays), so that it can be written out
// as a literal for the legacy engine.
//
// typed       the query
// multiplied  the text after implicit multiplication, when that changes it
// passes      the text after each caret pass, when there are carets
// The query line shows the last of these (or the typed text) plus one space; `shown` gives it
// when there are too many passes to list, `shownMatches` (a regular expression for the whole
// line) when it depends on where the rewriting stops. One outcome each:
// value       result line is this number (compared as a number; the text form is the engine's)
// near        result line is about this number (relative 1e-9)
// nan         result line is NaN
// text        result line is exactly this text
// error       error display with exactly this message (the page's own words)
// engine      the page shows whatever the engine itself says about the query line's text:
//             its value, or its error message (never "[object Error]"); `engineError` also
//             requires that it is an error
// undefinedValue  result line is the undefined value as the engine writes it
// Flags: mend (the fault the case shows mended), inject (input that must never run as script;
// these also check that the text reaches the script unchanged), slow (a long text: a looser time
// limit), label (a name for long texts).

function repeat(text, times) {
  let out = '';
  for (let i = 0; i < times; i++) out += text;
  return out;
}

const cases = [
  // The rewriting rules and their quirks.
  { typed: '2^10', passes: ['pow(2,10)'], value: 1024 },
  { typed: '2^3^2', passes: ['pow(2^3,2)', 'pow(pow(2,3),2)'], value: 64 },
  { typed: '2^(3^2)', passes: ['pow(2,(pow(3,2)))'], value: 512 },
  { typed: '2^2^2^2', passes: ['pow(2^2^2,2)', 'pow(pow(2^2,2),2)', 'pow(pow(pow(2,2),2),2)'], value: 256 },
  { typed: '(1+2)^2', passes: ['pow((1+2),2)'], value: 9 },
  { typed: '2^(1+1)', passes: ['pow(2,(1+1))'], value: 4 },
  { typed: '-2^2', passes: ['-pow(2,2)'], value: -4 },
  { typed: '2^-1', passes: ['pow(2,-1)'], value: 0.5 },
  { typed: '2^-(1+1)', passes: ['pow(2,-(1+1))'], value: 0.25 },
  { typed: 'sin(pi/2)^2', passes: ['pow(sin(pi/2),2)'], value: 1 },
  { typed: '2^3+4^2', passes: ['pow(2,3)+pow(4,2)'], value: 24 },
  { typed: '-8^(1/3)', passes: ['-pow(8,(1/3))'], near: -2 },
  { typed: '(-8)^(1/3)', passes: ['pow((-8),(1/3))'], nan: true },
  { typed: '2pi', multiplied: '2*pi', near: 6.283185307179586 },
  { typed: '3(4+5)', multiplied: '3*(4+5)', value: 27 },
  { typed: '2^3pi', multiplied: '2^3*pi', passes: ['pow(2,3)*pi'], near: 25.132741228718345 },
  { typed: '2x^2', multiplied: '2*x^2', passes: ['2*pow(x,2)'], error: 'x is not defined' },
  { typed: 'sqrt1_2', near: 0.7071067811865476 },
  { typed: 'xor(5,3)', value: 6 },
  { typed: 'max(2^3,1)', passes: ['max(pow(2,3),1)'], value: 8 },
  { typed: '2^-3^2', passes: ['pow(2,-pow(3),2)'], nan: true },
  { typed: '2^x', passes: ['pow(2,x)'], error: 'x is not defined' },
  { typed: 'x', error: 'x is not defined' },
  { typed: '2^ 3', passes: ['pow(2,) 3'], error: "Syntax error: unexpected ')'" },
  { typed: '2 ^ 3', passes: ['2 pow(,) 3'], error: "Syntax error: unexpected ')'" },
  { typed: '5^', passes: ['pow(5,)'], error: "Syntax error: unexpected ')'" },
  { typed: '2^^3', passes: ['pow(2^,3)', 'pow(pow(2,),3)'], error: "Syntax error: unexpected ')'" },
  { typed: '^5', passes: ['pow(,5)'], engine: true, engineError: true },
  { typed: '2^(3', passes: ['pow(2,(3)'], engine: true, engineError: true },
  { typed: '(2)(3)', engine: true, engineError: true, mend: 4 },
  { typed: '', undefinedValue: true },
  { typed: '2^2 ', passes: ['pow(2,2) '], value: 4 },
  { typed: 'PI^2', passes: ['pow(PI,2)'], near: 9.869604401089358 },
  { typed: '2sin(pi/2)', multiplied: '2*sin(pi/2)', value: 2 },
  { typed: '-2pi', multiplied: '-2*pi', near: -6.283185307179586 },
  { typed: 'abs(-2)+floor(2.5)*ceil(0.2)', value: 4 },
  { typed: 'E', near: 2.718281828459045 },
  { typed: '1<2', text: 'true' },
  { typed: '1 ? 2 : 3', value: 2 },
  { typed: '\t7 % 4', value: 3 },
  // Works in an engine that knows **, is a syntax error in the legacy one.
  { typed: '2**3', engine: true },

  // Mend 5: numbers inside names and literals keep their meaning.
  { typed: '1.5e3', value: 1500, mend: 5 },
  { typed: '1e-3', value: 0.001, mend: 5 },
  { typed: '1e3', value: 1000, mend: 5 },
  { typed: '2E+5', value: 200000, mend: 5 },
  { typed: '0x10', value: 16, mend: 5 },
  { typed: '0xff+0X1f', value: 286, mend: 5 },
  { typed: 'log2e', near: 1.4426950408889634, mend: 5 },
  { typed: 'log10e', near: 0.4342944819032518, mend: 5 },
  { typed: 'atan2(1,1)', near: 0.7853981633974483, mend: 5 },
  { typed: '2x3y', multiplied: '2*x3y', error: 'x3y is not defined', mend: 5 },
  { typed: '2e', multiplied: '2*e', near: 5.43656365691809, mend: 5 },
  { typed: '2e-x', multiplied: '2*e-x', error: 'x is not defined', mend: 5 },
  { typed: '1.5e3pi', engine: true, engineError: true, mend: 5 },

  // Mend 6: a comma at depth 0 ends a caret's base.
  { typed: 'max(1,2^3)', passes: ['max(1,pow(2,3))'], value: 8, mend: 6 },
  { typed: 'atan2(1,2^0)', passes: ['atan2(1,pow(2,0))'], near: 0.7853981633974483, mend: 6 },
  { typed: 'min(9,(1,2)^2)', passes: ['min(9,pow((1,2),2))'], value: 4, mend: 6 },

  // Mend 2: text, never markup.
  { typed: '<b>1</b>', error: 'b is not defined', mend: 2, inject: true },
  { typed: '<img src=x onerror=__canary.hits++>', error: 'img is not defined', mend: 2, inject: true },

  // Mends 1 and 3: the query reaches _search unchanged, and only arithmetic is evaluated.
  { typed: "it's", error: 'it is not defined', mend: 1, inject: true },
  { typed: "');__canary.hits++;('", error: 'Syntax error: unexpected "\'"', mend: 1, inject: true },
  { typed: "'+(__canary.hits++)+'", error: 'Syntax error: unexpected "\'"', mend: 1, inject: true },
  { typed: "\\');__canary.hits++;//", error: "Syntax error: unexpected '\\'", mend: 1, inject: true },
  { typed: '\\', error: "Syntax error: unexpected '\\'", mend: 1, inject: true },
  { typed: '\\n', error: "Syntax error: unexpected '\\'", mend: 1, inject: true },
  { typed: '\\u0027;__canary.hits++', error: "Syntax error: unexpected '\\'", mend: 1, inject: true },
  { typed: '"+__canary.hits+++"', error: "Syntax error: unexpected '\"'", mend: 1, inject: true },
  { typed: '</script><script>__canary.hits++</script>', error: "Syntax error: unexpected '/'", mend: 1, inject: true },
  { typed: '<!--<script>', error: "Syntax error: unexpected '--'", mend: 1, inject: true },
  { typed: '-->', error: "Syntax error: unexpected '--'", mend: 1, inject: true },
  { typed: '&lt;&#39;&amp;', error: 'lt is not defined', mend: 1, inject: true },
  { typed: '1\n__canary.hits++', error: 'Syntax error: unexpected U+000A', mend: 1, inject: true },
  { typed: '1\r\n2', error: 'Syntax error: unexpected U+000D', mend: 1, inject: true },
  { typed: '\u2028__canary.hits++', error: 'Syntax error: unexpected U+2028', mend: 1, inject: true },
  { typed: '2\u20293', error: 'Syntax error: unexpected U+2029', mend: 1, inject: true },
  { typed: '\u0000', error: 'Syntax error: unexpected U+0000', mend: 1, inject: true },
  { typed: '1\u0001\u001f\u007f', error: 'Syntax error: unexpected U+0001', mend: 1, inject: true },
  { typed: '\ud800', error: 'Syntax error: unexpected U+D800', mend: 1, inject: true },
  { typed: '\udc00x', error: 'Syntax error: unexpected U+DC00', mend: 1, inject: true },
  { typed: 'x\ud83d', error: 'x is not defined', mend: 1, inject: true },
  { typed: '\ud83d\ude00', error: 'Syntax error: unexpected U+D83D', mend: 1, inject: true },
  { typed: '\ufeff\uffff\u00a0', error: 'Syntax error: unexpected U+FEFF', mend: 1, inject: true },
  { typed: '\u03c0', error: 'Syntax error: unexpected U+03C0', mend: 1, inject: true },
  { typed: "location='about:blank#hit'", error: 'location is not defined', mend: 3, inject: true },
  { typed: 'for(;;);', error: 'for is not defined', mend: 3, inject: true },
  { typed: 'while(1){}', error: 'while is not defined', mend: 3, inject: true },
  { typed: '__canary.hits++', error: '__canary is not defined', mend: 3, inject: true },
  { typed: '_result.innerText=_search', error: '_result is not defined', mend: 3, inject: true },
  { typed: '_search', error: '_search is not defined', mend: 3, inject: true },
  { typed: 'update()', error: 'update is not defined', mend: 3, inject: true },
  { typed: 'eval', error: 'eval is not defined', mend: 3, inject: true },
  { typed: 'constructor', error: 'constructor is not defined', mend: 3, inject: true },
  { typed: 'toString()', error: 'toString is not defined', mend: 3, inject: true },
  { typed: 'max.constructor', error: "Syntax error: unexpected '.'", mend: 3, inject: true },
  { typed: 'pi=3', error: "Syntax error: unexpected '='", mend: 3, inject: true },
  { typed: 'pi+=1', error: "Syntax error: unexpected '='", mend: 3, inject: true },
  { typed: 'e++', error: "Syntax error: unexpected '++'", mend: 3, inject: true },
  { typed: 'e--', error: "Syntax error: unexpected '--'", mend: 3, inject: true },
  { typed: '1;2', error: "Syntax error: unexpected ';'", mend: 3, inject: true },
  { typed: '[1]', error: "Syntax error: unexpected '['", mend: 3, inject: true },
  { typed: '{}', error: "Syntax error: unexpected '{'", mend: 3, inject: true },
  { typed: '/pi/', error: "Syntax error: unexpected '/'", mend: 3, inject: true },
  { typed: '1//x', error: "Syntax error: unexpected '/'", mend: 3, inject: true },
  { typed: '1/*x*/', error: "Syntax error: unexpected '/'", mend: 3, inject: true },
  { typed: '`${__canary.hits++}`', error: "Syntax error: unexpected '`'", mend: 3, inject: true },

  // Long texts stay fast: a long run of digits, and caret chains, with a limit on the rewriting.
  { typed: repeat('1', 3000), value: Infinity, slow: true, label: '3000 digits' },
  { typed: repeat('9', 400) + 'x', multiplied: repeat('9', 400) + '*x', error: 'x is not defined', slow: true, label: '400 digits and a name' },
  { typed: '2' + repeat('^1', 40), shown: repeat('pow(', 40) + '2' + repeat(',1)', 40), value: 2, slow: true, label: 'a chain of 40 carets' },
  { typed: '2' + repeat('^2', 400), shownMatches: '^(pow\\()+2(\\^2)+(,2\\))+ $', error: 'Too many ^ in one expression', slow: true, label: 'a chain of 400 carets' },
];

// What the query line shows, less its trailing space.
function shownText(c) {
  if (c.shown !== undefined) return c.shown;
  if (c.passes) return c.passes[c.passes.length - 1];
  return c.multiplied !== undefined ? c.multiplied : c.typed;
}

// A text in double quotes, with everything outside printable ASCII as \uXXXX.
function printable(text) {
  if (typeof text !== 'string') return String(text);
  return JSON.stringify(text).replace(/[^\x20-\x7e]/g, (ch) => '\\u' + ch.charCodeAt(0).toString(16).padStart(4, '0'));
}

// A short printable name for a case.
function caseName(c) {
  return c.label || printable(c.typed);
}

// One line of an answers file: what an engine showed for a case, and for an error of the engine
// itself also what its toString() would have shown.
function answerLine(c, obs) {
  const parts = [caseName(c), printable(obs.resultText), printable(obs.queryText)];
  if (obs.reference && 'error' in obs.reference) parts.push('toString: ' + printable(obs.reference.asString));
  return parts.join('\t');
}

module.exports = { cases, shownText, caseName, printable, answerLine };
