/* A stand-in for Vega, Vega-Lite and Vega-Embed. Snakemake's report page
   draws its rule graph and its runtime statistics with them, but Debian
   packages no Vega-Lite or Vega-Embed, and the report embeds nothing from
   elsewhere. So vegaEmbed(target, chart) leaves a short note in the target and
   answers as Vega-Embed does, with a view whose methods do nothing. */
(function () {
  "use strict";
  var view = {};
  ["addEventListener", "removeEventListener", "addSignalListener", "removeSignalListener",
   "signal", "data", "insert", "remove", "resize", "width", "height", "run", "finalize"]
    .forEach(function (name) { view[name] = function () { return view; }; });
  view.runAsync = function () { return Promise.resolve(view); };

  var charts = {rulegraph: "The rule graph", runtimes: "The runtimes", timeline: "The timeline"};

  window.vegaEmbed = function (target, chart) {
    var element = typeof target === "string" ? document.querySelector(target) : target;
    if (element) {
      var note = document.createElement("p");
      note.style.margin = "0.75rem";
      note.textContent = (charts[element.id] || "This chart") + " is not drawn: this report does not embed Vega.";
      element.replaceChildren(note);
    }
    return Promise.resolve({view: view, embedOptions: {}, finalize: function () {}});
  };
})();
