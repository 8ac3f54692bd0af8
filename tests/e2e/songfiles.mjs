// Small song files of every kind the Songs page opens, made here: alphaTex by hand, Guitar Pro
// 3 to 6 by guitarpro.mjs, Guitar Pro 7 by alphaTab's own exporter (in Node), MusicXML by hand
// and packed as .mxl, and files that must be refused: junk, and a Guitar Pro 5 file cut short.
// Each names its title so that a test can see which one the page shows.
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { fileURLToPath } from 'node:url';
import { guitarPro, gpx } from './guitarpro.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
export const alphaTab = await import(path.join(here, '../../web/alphatab/node_modules/@coderline/alphatab/dist/alphaTab.mjs'));

export function readTex(tex) {
  const importer = new alphaTab.importer.AlphaTexImporter();
  importer.initFromString(tex, new alphaTab.Settings());
  return importer.readScore();
}

/** A Guitar Pro 7 file (.gp) of an alphaTex text, written by alphaTab's exporter. */
export function gp7Of(tex) {
  return Buffer.from(new alphaTab.exporter.Gp7Exporter().export(readTex(tex), new alphaTab.Settings()));
}

/** A MusicXML score of one guitar part: `notes` as [step, octave] quarter notes, four a bar. */
export function musicXml(title, notes) {
  const measures = [];
  for (let i = 0; i < notes.length; i += 4) {
    const attributes = i === 0
      ? '<attributes><divisions>1</divisions><time><beats>4</beats><beat-type>4</beat-type></time><clef><sign>G</sign><line>2</line></clef></attributes>'
      : '';
    const body = notes.slice(i, i + 4)
      .map(([step, octave]) => `<note><pitch><step>${step}</step><octave>${octave}</octave></pitch><duration>1</duration><type>quarter</type></note>`)
      .join('');
    measures.push(`<measure number="${i / 4 + 1}">${attributes}${body}</measure>`);
  }
  return '<?xml version="1.0" encoding="UTF-8"?>\n' +
    '<!DOCTYPE score-partwise PUBLIC "-//Recordare//DTD MusicXML 3.1 Partwise//EN" "http://www.musicxml.org/dtds/partwise.dtd">\n' +
    `<score-partwise version="3.1"><work><work-title>${title}</work-title></work>` +
    '<part-list><score-part id="P1"><part-name>Guitar</part-name></score-part></part-list>' +
    `<part id="P1">${measures.join('')}</part></score-partwise>\n`;
}

const CRC_TABLE = (() => {
  const table = new Int32Array(256);
  for (let n = 0; n < 256; n += 1) {
    let c = n;
    for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c;
  }
  return table;
})();

function crc32(buf) {
  let c = -1;
  for (const b of buf) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

/** A ZIP archive of {name: Buffer} entries, deflated, as MusicXML's .mxl container is. */
export function zip(entries) {
  const locals = [];
  const centrals = [];
  let offset = 0;
  for (const [name, data] of Object.entries(entries)) {
    const packed = zlib.deflateRawSync(data);
    const nameBytes = Buffer.from(name, 'utf8');
    const local = Buffer.alloc(30);
    local.writeUInt32LE(0x04034b50, 0);
    local.writeUInt16LE(20, 4);
    local.writeUInt16LE(8, 8); // deflate
    local.writeUInt32LE(crc32(data), 14);
    local.writeUInt32LE(packed.length, 18);
    local.writeUInt32LE(data.length, 22);
    local.writeUInt16LE(nameBytes.length, 26);
    const central = Buffer.alloc(46);
    central.writeUInt32LE(0x02014b50, 0);
    central.writeUInt16LE(20, 4);
    central.writeUInt16LE(20, 6);
    central.writeUInt16LE(8, 10);
    central.writeUInt32LE(crc32(data), 16);
    central.writeUInt32LE(packed.length, 20);
    central.writeUInt32LE(data.length, 24);
    central.writeUInt16LE(nameBytes.length, 28);
    central.writeUInt32LE(offset, 42);
    locals.push(local, nameBytes, packed);
    centrals.push(central, nameBytes);
    offset += 30 + nameBytes.length + packed.length;
  }
  const centralBytes = Buffer.concat(centrals);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(centrals.length / 2, 8);
  end.writeUInt16LE(centrals.length / 2, 10);
  end.writeUInt32LE(centralBytes.length, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...locals, centralBytes, end]);
}

/** A compressed MusicXML file (.mxl) holding `xml`. */
export function mxlOf(xml) {
  const container = '<?xml version="1.0" encoding="UTF-8"?><container><rootfiles>' +
    '<rootfile full-path="score.musicxml" media-type="application/vnd.recordare.musicxml+xml"/></rootfiles></container>';
  return zip({ 'META-INF/container.xml': Buffer.from(container), 'score.musicxml': Buffer.from(xml) });
}

/**
 * The riff in the Guitar Pro 3 to 6 files, as [string, fret] (string 1 the high e): up the
 * low strings, then an E minor chord.
 */
export const RIFF = [
  [[[6, 0]], [[6, 3]], [[5, 0]], [[5, 2]]],
  [[[4, 0]], [[4, 2]], [[3, 0]], [[1, 0], [2, 0], [3, 0], [4, 2], [5, 2], [6, 0]]],
];

/**
 * Writes one song of each kind into `folder` and answers [{file, title}] (the files to be
 * refused have no title).
 */
export function writeSongFolder(folder) {
  fs.mkdirSync(folder, { recursive: true });
  const scale = [['C', 4], ['D', 4], ['E', 4], ['F', 4], ['G', 4], ['A', 4], ['B', 4], ['C', 5]];
  const five = guitarPro(5, { title: 'Gp Five', tempo: 110, bars: RIFF });
  const files = [
    ['riff.gp3', guitarPro(3, { title: 'Gp Three', tempo: 90, bars: RIFF }), 'Gp Three'],
    ['riff.gp4', guitarPro(4, { title: 'Gp Four', tempo: 100, bars: RIFF }), 'Gp Four'],
    ['riff.gp5', five, 'Gp Five'],
    ['riff.gpx', gpx({ title: 'Gp Six', tempo: 120, bars: RIFF }), 'Gp Six'],
    ['tex song.atex', '\\title "Tex Song" \\tempo 90 . :4 0.6 2.6 3.6 2.6 | 0.5 2.5 3.5.2 |', 'Tex Song'],
    ['Exported.gp', gp7Of('\\title "Gp Seven" \\tempo 100 \\track "Lead" . :4 0.1 1.1 3.1 1.1 | 0.2 1.2 3.2 1.2 |'), 'Gp Seven'],
    ['part.musicxml', musicXml('Xml Scale', scale), 'Xml Scale'],
    ['plain.xml', musicXml('Plain Xml', scale.slice(0, 4)), 'Plain Xml'],
    ['packed.mxl', mxlOf(musicXml('Packed Xml', scale)), 'Packed Xml'],
    ['junk.gp5', Buffer.from('FICHIER GUITAR PRO v5.00 but nothing after it is a song'), null],
    ['cut.gp5', five.subarray(0, five.length - 40), null], // a true header, its last bar cut off
  ];
  for (const [name, content] of files) fs.writeFileSync(path.join(folder, name), content);
  return files.map(([file, , title]) => ({ file, title }));
}
