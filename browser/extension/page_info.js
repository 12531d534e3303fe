// Runs in every frame of a page (chrome.scripting, allFrames) and describes that document:
// its address, character set, META elements (for the robots text) and whether it has frames.
// Kept free of outside names, since it is passed to executeScript as a function.
function quillonPageInfo() {
  const metas = [];
  for (const m of document.querySelectorAll("meta[name]")) {
    metas.push({ name: String(m.getAttribute("name") || ""), content: String(m.getAttribute("content") || "") });
    if (metas.length >= 64) break;
  }
  return {
    url: String(location.href),
    title: String(document.title || ""),
    charset: String(document.characterSet || ""),
    metas,
    hasFrames: document.querySelector("frame, iframe") !== null,
  };
}
