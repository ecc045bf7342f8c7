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
