// What the browser keeps for the page: the drafts of scripts.
//
// What was typed is kept in this browser's local storage until saved or
// forgotten, never the tables: the text, when, how to encode it, and the
// file it was made from (its name, size and bytes; none when typed from
// scratch), to which alone it belongs. An older page kept the bare text.
// Tabs share the storage: each remembers what it last read or wrote of
// each draft (`known`), and never writes over a draft another tab changed
// meanwhile without asking.
import { plainForm } from './codec.js';

export const drafts = {
  prefix: 'headlink draft ',
  known: new Map(),
  raw(key) { try { return localStorage.getItem(this.prefix + key); } catch (error) { return null; } },
  parse(raw) {
    if (raw === null) return null;
    try {
      const draft = JSON.parse(raw);
      if (draft && draft.v === 1) return draft;
    } catch (error) { /* an older page's bare text */ }
    return { v: 1, text: raw, date: 0, form: plainForm, file: null };
  },
  get(key) {
    const raw = this.raw(key);
    this.known.set(key, raw);
    return this.parse(raw);
  },
  // Whether another tab changed the draft since this one last saw it.
  changedElsewhere(key) { return this.known.has(key) && this.raw(key) !== this.known.get(key); },
  // What this tab knows of a draft is what the storage holds after it
  // wrote: a browser that keeps nothing for the page changes nothing.
  set(key, draft) {
    try { localStorage.setItem(this.prefix + key, JSON.stringify({ v: 1, ...draft })); } catch (error) { /* kept nowhere */ }
    this.known.set(key, this.raw(key));
  },
  drop(key) {
    try { localStorage.removeItem(this.prefix + key); } catch (error) { /* nothing kept */ }
    this.known.set(key, this.raw(key));
  },
  all() {
    try {
      return Object.keys(localStorage).filter((k) => k.startsWith(this.prefix)).map((k) => k.slice(this.prefix.length));
    } catch (error) {
      return [];
    }
  },
};
// The file a draft belongs to, as kept with it.
export const fileOf = (name, bytes) =>
  (bytes ? { name, size: bytes.length, bytes: Array.from(bytes, (b) => String.fromCharCode(b)).join('') } : null);
export const sameFile = (a, b) => (a === null || b === null ? a === b : a.name === b.name && a.size === b.size && a.bytes === b.bytes);
