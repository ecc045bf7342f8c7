// Collects the edges of the elements marked data-cut into a hidden block,
// which the render script reads from the page's DOM to write the project.
// Tokens: l r t b for single edges, x for left+right, y for top+bottom.
(function () {
  var lines = [];
  document.querySelectorAll('[data-cut]').forEach(function (el) {
    var r = el.getBoundingClientRect();
    var edges = { l: ['x', r.left], r: ['x', r.right], t: ['y', r.top], b: ['y', r.bottom] };
    el.dataset.cut.split(/\s+/).forEach(function (tok) {
      var keys = tok === 'x' ? ['l', 'r'] : tok === 'y' ? ['t', 'b'] : tok === 'xy' ? ['l', 'r', 't', 'b'] : [tok];
      keys.forEach(function (k) {
        if (edges[k]) lines.push(edges[k][0] + ' ' + Math.round(edges[k][1]));
      });
    });
  });
  var out = document.createElement('pre');
  out.id = 'cut-lines';
  out.hidden = true;
  out.textContent = lines.join('\n');
  document.body.appendChild(out);
})();

// For measuring suggested cuts: every marked box (data-cut, or data-box for
// boxes that are not cut across the whole page) and every visible one, and
// the rectangles of the visible text, clipped by the boxes that hide their
// overflow.
(function () {
  var out = [];
  function fmt(kind, r) {
    return kind + ' ' + [r.left, r.top, r.right, r.bottom].map(function (v) { return v.toFixed(2); }).join(' ');
  }
  // Besides the marked boxes, every box one can see: a picture, a
  // background, a border or a shadow of its own.
  document.querySelectorAll('body *').forEach(function (el) {
    var s = getComputedStyle(el);
    var r = el.getBoundingClientRect();
    if (r.width < 1 || r.height < 1 || s.visibility !== 'visible') return;
    var seen = el.matches('[data-cut], [data-box], img, svg, canvas, video') ||
      s.backgroundImage !== 'none' || !/rgba\(.*, 0\)$|transparent/.test(s.backgroundColor) ||
      s.boxShadow !== 'none' || ['Top', 'Right', 'Bottom', 'Left'].some(function (side) {
        return s['border' + side + 'Style'] !== 'none' && parseFloat(s['border' + side + 'Width']) > 0;
      });
    if (seen) out.push(fmt('box', r));
  });
  var walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (var node = walker.nextNode(); node; node = walker.nextNode()) {
    var parent = node.parentElement;
    if (!node.textContent.trim() || !parent || parent.closest('pre#cut-lines, script, style')) continue;
    var style = getComputedStyle(parent);
    if (style.visibility !== 'visible' || parseFloat(style.opacity) === 0 || /rgba\(.*, 0\)$/.test(style.color)) continue;
    var range = document.createRange();
    range.selectNodeContents(node);
    Array.prototype.forEach.call(range.getClientRects(), function (r) {
      var box = { left: r.left, top: r.top, right: r.right, bottom: r.bottom };
      for (var a = parent; a && a !== document.documentElement; a = a.parentElement) {
        var s = getComputedStyle(a);
        if (s.overflow === 'visible' && s.overflowX === 'visible' && s.overflowY === 'visible') continue;
        var c = a.getBoundingClientRect();
        box.left = Math.max(box.left, c.left); box.top = Math.max(box.top, c.top);
        box.right = Math.min(box.right, c.right); box.bottom = Math.min(box.bottom, c.bottom);
      }
      if (box.right - box.left >= 1 && box.bottom - box.top >= 1) out.push(fmt('text', box));
    });
  }
  var block = document.createElement('pre');
  block.id = 'layout-truth';
  block.hidden = true;
  block.textContent = out.join('\n');
  document.body.appendChild(block);
})();
