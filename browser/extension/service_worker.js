// The Quillon Vesper extension: reports the active tab's pages to the native host
// qvbrowserhost, which hands them to the activity tracer, and sends the host copies of the
// pages so that the web history can show them again.
//
// Copies: the service worker fetches each part of a page again with cache: "force-cache".
// A page the browser may cache comes back from the browser's HTTP cache, byte for byte what
// the page was built from; a page that forbids caching has no stored bytes, so it is fetched
// once more from its server (the version current at that moment). Reading the live DOM
// instead would give the browser's serialisation, not the bytes the server sent.
// Chromium runs this file as a service worker, which loads page_info.js here; Firefox runs
// both files as background scripts, listed in the manifest.
if (typeof importScripts === "function") importScripts("page_info.js");

const HOST = "com.quillon.vesper.browser";
const MAX_DEPTH = 16;                  // frame levels below the top page
const MAX_COPY_BYTES = 700 * 1024;     // a copy and its message stay below the host's 1 MB
const DOCUMENT_TYPES = ["main_frame", "sub_frame"];

let port = null;
function post(message) {
  try {
    if (!port) {
      port = chrome.runtime.connectNative(HOST);
      port.onDisconnect.addListener(() => { port = null; });
      port.onMessage.addListener((reply) => {
        if (reply && reply.ok === false) console.warn("qvbrowserhost:", reply.error);
      });
    }
    port.postMessage(message);
  } catch (e) {
    port = null;
    console.warn("qvbrowserhost unavailable:", e);
  }
}

// The headers of the last document request and response per tab and frame.
const headers = new Map();
const key = (tabId, frameId) => tabId + ":" + frameId;
function headerText(first, list) {
  let text = first ? first + "\r\n" : "";
  for (const h of list || []) text += h.name + ": " + (h.value || "") + "\r\n";
  return text;
}
chrome.webRequest.onSendHeaders.addListener((d) => {
  if (d.tabId < 0) return;
  const k = key(d.tabId, d.frameId);
  headers.set(k, { url: d.url, request: headerText(d.method + " " + d.url + " HTTP/1.1", d.requestHeaders), response: "" });
}, { urls: ["<all_urls>"], types: DOCUMENT_TYPES }, ["requestHeaders"]);
chrome.webRequest.onHeadersReceived.addListener((d) => {
  if (d.tabId < 0) return;
  const k = key(d.tabId, d.frameId);
  const entry = headers.get(k) || { url: d.url, request: "" };
  entry.url = d.url;
  entry.response = headerText(d.statusLine, d.responseHeaders);
  headers.set(k, entry);
}, { urls: ["<all_urls>"], types: DOCUMENT_TYPES }, ["responseHeaders"]);

function base64(bytes) {
  let text = "";
  for (let i = 0; i < bytes.length; i += 0x8000) {
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  }
  return btoa(text);
}

function keptScheme(url) {
  return /^(http|file):/i.test(url);  // never https: secure pages are not kept
}

async function sendCopy(tabId, frameId, url, title, top) {
  if (!keptScheme(url)) return;
  const seen = headers.get(key(tabId, frameId));
  try {
    const response = await fetch(url, { cache: "force-cache", credentials: "include" });
    if (!response.ok) return;
    const bytes = new Uint8Array(await response.arrayBuffer());
    if (bytes.length > MAX_COPY_BYTES) return;
    let responseHeaders = seen && seen.url === url ? seen.response : "";
    if (!responseHeaders) {
      const list = [];
      response.headers.forEach((value, name) => list.push({ name, value }));
      responseHeaders = headerText("HTTP/1.1 " + response.status, list);
    }
    post({
      type: "page", tab: tabId, url, title, top,
      requestHeaders: seen && seen.url === url ? seen.request : "",
      responseHeaders, body: base64(bytes),
    });
  } catch (e) {
    console.warn("no copy of", url, e);
  }
}

// The tab's frame tree with each document's description, top first.
async function describe(tabId) {
  const frames = (await chrome.webNavigation.getAllFrames({ tabId })) || [];
  let infos = [];
  try {
    infos = await chrome.scripting.executeScript({ target: { tabId, allFrames: true }, func: quillonPageInfo });
  } catch (e) {
    // Pages the extension may not script (the browser's own pages): the URLs alone.
  }
  const info = new Map(infos.map((r) => [r.frameId, r.result]));
  const nodes = new Map();
  for (const f of frames.sort((a, b) => a.frameId - b.frameId)) {
    const i = info.get(f.frameId) || {};
    nodes.set(f.frameId, {
      frameId: f.frameId, parentFrameId: f.parentFrameId, title: i.title || "",
      frame: { url: f.url, charset: i.charset || "", metas: i.metas || [], hasFrames: !!i.hasFrames, frames: [] },
    });
  }
  const top = nodes.get(0);
  if (!top) return null;
  for (const n of nodes.values()) {
    const parent = nodes.get(n.parentFrameId);
    if (n.frameId !== 0 && parent) parent.frame.frames.push(n.frame);
  }
  // Only the levels the tracer keeps are sent.
  (function cut(frame, depth) {
    if (depth >= MAX_DEPTH) frame.frames = [];
    for (const child of frame.frames) cut(child, depth + 1);
  })(top.frame, 0);
  return { top, nodes };
}

// Copies are sent for every tab, so that a page loaded in the background can be shown again;
// the visit is reported only for the tab in front, whose page is the window's visit.
async function reportDocument(tabId, withCopies) {
  let tab = await chrome.tabs.get(tabId).catch(() => null);
  if (!tab || (!tab.active && !withCopies)) return;
  const described = await describe(tabId);
  if (!described) return;
  const { top, nodes } = described;
  const title = top.title || tab.title || "";
  if (withCopies) {
    for (const n of nodes.values()) {
      await sendCopy(tabId, n.frameId, n.frame.url, n.frameId === 0 ? title : "", n.frameId === 0);
    }
  }
  tab = await chrome.tabs.get(tabId).catch(() => null);
  if (tab && tab.active) post({ type: "document", tab: tabId, title, frame: top.frame });
}

chrome.webNavigation.onCommitted.addListener(async (d) => {
  if (d.frameId !== 0) return;
  const tab = await chrome.tabs.get(d.tabId).catch(() => null);
  if (tab && tab.active) post({ type: "navigate", tab: d.tabId, url: d.url });
});

chrome.webNavigation.onCompleted.addListener((d) => {
  if (d.frameId === 0) reportDocument(d.tabId, true);
});

// Another tab comes to the front: its page becomes the window's visit.
chrome.tabs.onActivated.addListener(({ tabId }) => reportDocument(tabId, false));

// Pages that finished loading before the service worker started (the browser's first
// window, or after the extension was loaded or woken): their documents are reported now.
async function reportOpenTabs() {
  for (const tab of await chrome.tabs.query({ active: true })) {
    if (tab.status === "complete" && tab.url) reportDocument(tab.id, true);
  }
}
chrome.runtime.onStartup.addListener(reportOpenTabs);
chrome.runtime.onInstalled.addListener(reportOpenTabs);

chrome.tabs.onRemoved.addListener((tabId) => {
  for (const k of [...headers.keys()]) if (k.startsWith(tabId + ":")) headers.delete(k);
  post({ type: "closed", tab: tabId });
});
